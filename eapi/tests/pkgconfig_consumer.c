/*
 * A C program built from the installed EApi.h and EApi.pc alone, run on the
 * simulated board named by VEK_SIM_BOARD (FMQ-345: an EEPROM at 0x50 on its
 * first platform I2C controller, byte k holding k ^ 0x5A).
 * Exits 0 when every answer is the board's.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <eapi/EApi.h>

#define CHECK(cond, what)                                      \
    do {                                                       \
        if (!(cond)) {                                         \
            fprintf(stderr, "eapi consumer: %s failed\n", what); \
            return 1;                                          \
        }                                                      \
    } while (0)

int main(void) {
    const char* board = getenv("VEK_SIM_BOARD");
    CHECK(board != NULL, "VEK_SIM_BOARD");
    CHECK(EApiLibInitialize() == EAPI_STATUS_SUCCESS, "initialise");
    char name[80];
    uint32_t len = sizeof name;
    CHECK(EApiBoardGetStringA(EAPI_ID_BOARD_NAME_STR, name, &len) == EAPI_STATUS_SUCCESS, "board name");
    CHECK(strcmp(name, board) == 0, "board name is the simulated board's");
    uint32_t version = 0;
    CHECK(EApiBoardGetValue(EAPI_ID_GET_EAPI_SPEC_VERSION, &version) == EAPI_STATUS_SUCCESS, "EAPI version");
    CHECK(EAPI_VER_GET_VER(version) == 1 && EAPI_VER_GET_REV(version) == 0, "EAPI 1.0");
    uint8_t byte = 0;
    CHECK(EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, EAPI_I2C_ENC_7BIT_ADDR(0x50), EAPI_I2C_ENC_STD_CMD(0x10), &byte,
                              1, 1) == EAPI_STATUS_SUCCESS,
          "EEPROM read");
    CHECK(byte == (0x10 ^ 0x5A), "EEPROM byte");
    CHECK(EApiLibUnInitialize() == EAPI_STATUS_SUCCESS, "uninitialise");
    printf("eapi consumer: %s, EAPI %u.%u, EEPROM byte 0x10 = 0x%02X\n", name, EAPI_VER_GET_VER(version),
           EAPI_VER_GET_REV(version), byte);
    return 0;
}
