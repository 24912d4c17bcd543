/*
 * EApi.h — the PICMG Embedded API (EAPI 1.0) on vek boards.
 *
 * libEApi (Linux) and EApi.dll (Windows) answer the vendor-neutral EAPI calls
 * from vek's board functions. Every call returns an EApiStatus_t; call
 * EApiLibInitialize first and EApiLibUnInitialize when done.
 *
 * Units: temperatures in tenths of a kelvin (0 °C = 2731), voltages in
 * millivolts, fan speeds in rpm, watchdog times in milliseconds, backlight
 * brightness 0 (dimmest) .. 255 (brightest).
 *
 * On Linux, when the environment variable VEK_SIM_BOARD names one of vek's
 * boards, EApiLibInitialize runs on that simulated board (libvek-sim) instead
 * of this machine's hardware.
 */
#ifndef EAPI_EAPI_H
#define EAPI_EAPI_H

#include <stdint.h>

/* The standard leaves the calling convention to the compiler's default
 * (cdecl on 32-bit Windows); a build that needs another one defines
 * EAPI_CALLTYPE for the library and its callers alike. */
#ifndef EAPI_CALLTYPE
#define EAPI_CALLTYPE
#endif

#if defined(_WIN32)
#if defined(EAPI_BUILDING_LIBRARY)
#define EAPI_EXPORT __declspec(dllexport)
#else
#define EAPI_EXPORT __declspec(dllimport)
#endif
#elif defined(EAPI_BUILDING_LIBRARY)
#define EAPI_EXPORT __attribute__((visibility("default")))
#else
#define EAPI_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t EApiStatus_t;
typedef uint32_t EApiId_t;

/* ---- versions: bits 31..24 version, 23..16 revision, 15..0 build ---- */
#define EAPI_VER_MASK_VER   ((uint32_t)0xFF000000u)
#define EAPI_VER_MASK_REV   ((uint32_t)0x00FF0000u)
#define EAPI_VER_MASK_BUILD ((uint32_t)0x0000FFFFu)
#define EAPI_VER_GET_VER(x)   ((uint8_t)(((x) >> 24) & 0xFFu))
#define EAPI_VER_GET_REV(x)   ((uint8_t)(((x) >> 16) & 0xFFu))
#define EAPI_VER_GET_BUILD(x) ((uint16_t)((x) & 0xFFFFu))
#define EAPI_VER_CREATE(ver, rev, build) \
    ((uint32_t)((((uint32_t)(ver) & 0xFFu) << 24) | (((uint32_t)(rev) & 0xFFu) << 16) | ((uint32_t)(build) & 0xFFFFu)))
#define EAPI_VER      1
#define EAPI_REVISION 0
#define EAPI_VERSION  EAPI_VER_CREATE(EAPI_VER, EAPI_REVISION, 0)

/* ---- status codes ---- */
#define EAPI_STATUS_NOT_INITIALIZED         ((EApiStatus_t)0xFFFFFFFFu) /* EApiLibInitialize not called, or it failed */
#define EAPI_STATUS_INITIALIZED             ((EApiStatus_t)0xFFFFFFFEu) /* second EApiLibInitialize */
#define EAPI_STATUS_ALLOC_ERROR             ((EApiStatus_t)0xFFFFFFFDu)
#define EAPI_STATUS_DRIVER_TIMEOUT          ((EApiStatus_t)0xFFFFFFFCu)
#define EAPI_STATUS_INVALID_PARAMETER       ((EApiStatus_t)0xFFFFFEFFu) /* null pointer, zero length, value out of range */
#define EAPI_STATUS_INVALID_BLOCK_ALIGNMENT ((EApiStatus_t)0xFFFFFEFEu) /* storage write not on a block boundary */
#define EAPI_STATUS_INVALID_BLOCK_LENGTH    ((EApiStatus_t)0xFFFFFEFDu) /* transfer longer than the area or the bus allows */
#define EAPI_STATUS_INVALID_DIRECTION       ((EApiStatus_t)0xFFFFFEFCu) /* a GPIO cannot take that direction */
#define EAPI_STATUS_INVALID_BITMASK         ((EApiStatus_t)0xFFFFFEFBu) /* mask selects GPIOs the ID does not have */
#define EAPI_STATUS_RUNNING                 ((EApiStatus_t)0xFFFFFEFAu) /* watchdog already started */
#define EAPI_STATUS_UNSUPPORTED             ((EApiStatus_t)0xFFFFFCFFu) /* this board has no such function or ID */
#define EAPI_STATUS_NOT_FOUND               ((EApiStatus_t)0xFFFFFBFFu) /* no I2C device answers the address */
#define EAPI_STATUS_TIMEOUT                 ((EApiStatus_t)0xFFFFFBFEu)
#define EAPI_STATUS_BUSY_COLLISION          ((EApiStatus_t)0xFFFFFBFDu)
#define EAPI_STATUS_READ_ERROR              ((EApiStatus_t)0xFFFFFAFFu)
#define EAPI_STATUS_WRITE_ERROR             ((EApiStatus_t)0xFFFFFAFEu)
#define EAPI_STATUS_MORE_DATA               ((EApiStatus_t)0xFFFFF9FFu) /* buffer shorter than the data */
#define EAPI_STATUS_ERROR                   ((EApiStatus_t)0xFFFFF0FFu)
#define EAPI_STATUS_SUCCESS                 ((EApiStatus_t)0u)
#define EAPI_TEST_SUCCESS(x)                (!(x))

/* ---- library ---- */
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiLibInitialize(void);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiLibUnInitialize(void);

/* ---- board information strings ---- */
#define EAPI_ID_BOARD_MANUFACTURER_STR  ((EApiId_t)0)
#define EAPI_ID_BOARD_NAME_STR          ((EApiId_t)1)
#define EAPI_ID_BOARD_REVISION_STR      ((EApiId_t)2)
#define EAPI_ID_BOARD_SERIAL_STR        ((EApiId_t)3)
#define EAPI_ID_BOARD_BIOS_REVISION_STR ((EApiId_t)4)
#define EAPI_ID_BOARD_HW_REVISION_STR   ((EApiId_t)5)
#define EAPI_ID_BOARD_PLATFORM_TYPE_STR ((EApiId_t)6)

/* *pBufLen: buffer size in, string length plus terminator out. A short buffer
 * gets as much as fits (terminated) and EAPI_STATUS_MORE_DATA. */
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiBoardGetStringA(EApiId_t Id, char* pBuffer, uint32_t* pBufLen);

/* ---- board information values ---- */
#define EAPI_ID_GET_EAPI_SPEC_VERSION        ((EApiId_t)0)       /* EAPI version the library implements */
#define EAPI_ID_BOARD_BOOT_COUNTER_VAL       ((EApiId_t)1)       /* boots */
#define EAPI_ID_BOARD_RUNNING_TIME_METER_VAL ((EApiId_t)2)       /* minutes */
#define EAPI_ID_BOARD_PNPID_VAL              ((EApiId_t)3)
#define EAPI_ID_BOARD_PLATFORM_REV_VAL       ((EApiId_t)4)
#define EAPI_ID_BOARD_DRIVER_VERSION_VAL     ((EApiId_t)0x10000) /* vek's version */
#define EAPI_ID_BOARD_LIB_VERSION_VAL        ((EApiId_t)0x10001) /* this library's version */
#define EAPI_ID_HWMON_CPU_TEMP               ((EApiId_t)0x20000) /* 0.1 K */
#define EAPI_ID_HWMON_CHIPSET_TEMP           ((EApiId_t)0x20001) /* 0.1 K */
#define EAPI_ID_HWMON_SYSTEM_TEMP            ((EApiId_t)0x20002) /* 0.1 K */
#define EAPI_ID_HWMON_VOLTAGE_VCORE          ((EApiId_t)0x21004) /* mV */
#define EAPI_ID_HWMON_VOLTAGE_2V5            ((EApiId_t)0x21008) /* mV */
#define EAPI_ID_HWMON_VOLTAGE_3V3            ((EApiId_t)0x2100C) /* mV */
#define EAPI_ID_HWMON_VOLTAGE_VBAT           ((EApiId_t)0x21010) /* mV */
#define EAPI_ID_HWMON_VOLTAGE_5V             ((EApiId_t)0x21014) /* mV */
#define EAPI_ID_HWMON_VOLTAGE_5VSB           ((EApiId_t)0x21018) /* mV */
#define EAPI_ID_HWMON_VOLTAGE_12V            ((EApiId_t)0x2101C) /* mV */
#define EAPI_ID_HWMON_FAN_CPU                ((EApiId_t)0x22000) /* rpm */
#define EAPI_ID_HWMON_FAN_SYSTEM             ((EApiId_t)0x22001) /* rpm */

#define EAPI_KELVINS_OFFSET 2731
#define EAPI_ENCODE_CELCIUS(c) ((uint32_t)((c) * 10 + EAPI_KELVINS_OFFSET))
#define EAPI_DECODE_CELCIUS(k) (((k) - EAPI_KELVINS_OFFSET) / 10)

EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiBoardGetValue(EApiId_t Id, uint32_t* pValue);

/* ---- backlight ---- */
#define EAPI_ID_BACKLIGHT_1 ((EApiId_t)0)
#define EAPI_ID_BACKLIGHT_2 ((EApiId_t)1)
#define EAPI_ID_BACKLIGHT_3 ((EApiId_t)2)

#define EAPI_BACKLIGHT_SET_ON        ((uint32_t)0u)
#define EAPI_BACKLIGHT_SET_OFF       ((uint32_t)0xFFFFFFFFu)
#define EAPI_BACKLIGHT_SET_DIMEST    ((uint32_t)0u)
#define EAPI_BACKLIGHT_SET_BRIGHTEST ((uint32_t)255u)

EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiVgaGetBacklightEnable(EApiId_t Id, uint32_t* pEnable);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiVgaSetBacklightEnable(EApiId_t Id, uint32_t Enable);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiVgaGetBacklightBrightness(EApiId_t Id, uint32_t* pBright);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiVgaSetBacklightBrightness(EApiId_t Id, uint32_t Bright);

/* ---- user storage ---- */
#define EAPI_ID_STORAGE_STD ((EApiId_t)0)

/* Either pointer may be null, not both. Writes must start and end on *pBlockLength boundaries. */
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiStorageCap(EApiId_t Id, uint32_t* pStorageSize, uint32_t* pBlockLength);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiStorageAreaRead(EApiId_t Id, uint32_t Offset, void* pBuffer, uint32_t BufLen,
                                                           uint32_t ByteCnt);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiStorageAreaWrite(EApiId_t Id, uint32_t Offset, void* pBuffer, uint32_t ByteCnt);

/* ---- I2C ---- */
#define EAPI_ID_I2C_EXTERNAL ((EApiId_t)0) /* the baseboard's I2C bus */
#define EAPI_ID_I2C_LVDS_1   ((EApiId_t)1) /* display 1 control bus */
#define EAPI_ID_I2C_LVDS_2   ((EApiId_t)2) /* display 2 control bus */

/* Addresses: a 7-bit address a travels as a << 1 (bit 0 is the direction,
 * ignored); a 10-bit address a as 0xF000 | (a & 0x300) << 1 | (a & 0xFF). */
#define EAPI_I2C_ENC_7BIT_ADDR(x)  ((uint8_t)(((x) & 0x7Fu) << 1))
#define EAPI_I2C_DEC_7BIT_ADDR(x)  ((uint8_t)(((x) >> 1) & 0x7Fu))
#define EAPI_I2C_ENC_10BIT_ADDR(x) ((uint32_t)(((x) & 0xFFu) | (((x) & 0x300u) << 1) | 0xF000u))
#define EAPI_I2C_DEC_10BIT_ADDR(x) ((uint32_t)(((x) & 0xFFu) | (((x) >> 1) & 0x300u)))
#define EAPI_I2C_IS_10BIT_ADDR(x)  (((x) & 0xF800u) == 0xF000u)
#define EAPI_I2C_IS_7BIT_ADDR(x)   (!EAPI_I2C_IS_10BIT_ADDR(x))

/* Commands: bits 31..30 say how the command/offset goes out before the data. */
#define EAPI_I2C_STD_CMD       ((uint32_t)(0u << 30)) /* one command byte */
#define EAPI_I2C_NO_CMD        ((uint32_t)(1u << 30)) /* data only */
#define EAPI_I2C_EXT_CMD       ((uint32_t)(2u << 30)) /* two command bytes, high first */
#define EAPI_I2C_CMD_TYPE_MASK ((uint32_t)(3u << 30))
#define EAPI_I2C_ENC_STD_CMD(x) ((uint32_t)(((x) & 0xFFu) | EAPI_I2C_STD_CMD))
#define EAPI_I2C_ENC_EXT_CMD(x) ((uint32_t)(((x) & 0xFFFFu) | EAPI_I2C_EXT_CMD))
#define EAPI_I2C_IS_EXT_CMD(x)  (((uint32_t)(x) & EAPI_I2C_CMD_TYPE_MASK) == EAPI_I2C_EXT_CMD)
#define EAPI_I2C_IS_STD_CMD(x)  (((uint32_t)(x) & EAPI_I2C_CMD_TYPE_MASK) == EAPI_I2C_STD_CMD)
#define EAPI_I2C_IS_NO_CMD(x)   (((uint32_t)(x) & EAPI_I2C_CMD_TYPE_MASK) == EAPI_I2C_NO_CMD)

EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiI2CGetBusCap(EApiId_t Id, uint32_t* pMaxBlkLen);
/* WriteBCnt and ReadBCnt count the address byte: bytes to move plus one. */
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiI2CWriteReadRaw(EApiId_t Id, uint8_t Addr, void* pWBuffer, uint32_t WriteBCnt,
                                                           void* pRBuffer, uint32_t RBufLen, uint32_t ReadBCnt);
#define EApiI2CWriteRaw(Id, Addr, pBuffer, ByteCnt) EApiI2CWriteReadRaw(Id, Addr, pBuffer, ByteCnt, 0, 0, 0)
#define EApiI2CReadRaw(Id, Addr, pBuffer, BufLen, ByteCnt) EApiI2CWriteReadRaw(Id, Addr, 0, 0, pBuffer, BufLen, ByteCnt)
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiI2CReadTransfer(EApiId_t Id, uint32_t Addr, uint32_t Cmd, void* pBuffer,
                                                           uint32_t BufLen, uint32_t ByteCnt);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiI2CWriteTransfer(EApiId_t Id, uint32_t Addr, uint32_t Cmd, void* pBuffer,
                                                            uint32_t ByteCnt);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiI2CProbeDevice(EApiId_t Id, uint32_t Addr);

/* ---- watchdog: delay, then event timeout, then reset timeout, all in ms ---- */
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiWDogGetCap(uint32_t* pMaxDelay, uint32_t* pMaxEventTimeout,
                                                      uint32_t* pMaxResetTimeout);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiWDogStart(uint32_t Delay, uint32_t EventTimeout, uint32_t ResetTimeout);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiWDogTrigger(void);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiWDogStop(void);

/* ---- GPIO: one ID per GPIO (mask bit 0), or banks of 32 ---- */
#define EAPI_GPIO_GPIO_ID(n)      ((EApiId_t)(n))
#define EAPI_GPIO_GPIO_BITMASK    ((uint32_t)1u)
#define EAPI_ID_GPIO_GPIO00 EAPI_GPIO_GPIO_ID(0)
#define EAPI_ID_GPIO_GPIO01 EAPI_GPIO_GPIO_ID(1)
#define EAPI_ID_GPIO_GPIO02 EAPI_GPIO_GPIO_ID(2)
#define EAPI_ID_GPIO_GPIO03 EAPI_GPIO_GPIO_ID(3)
#define EAPI_GPIO_BANK_ID(n)      ((EApiId_t)(0x10000u | ((uint32_t)(n) >> 5)))
#define EAPI_GPIO_BANK_MASK(n)    ((uint32_t)(1u << ((n) & 0x1Fu)))
#define EAPI_GPIO_BANK_TEST_STATE(n, state, value) ((((value) >> ((n) & 0x1Fu)) & 1u) == (state))
#define EAPI_ID_GPIO_BANK00 EAPI_GPIO_BANK_ID(0)  /* GPIOs 0..31 */
#define EAPI_ID_GPIO_BANK01 EAPI_GPIO_BANK_ID(32) /* GPIOs 32..63 */
#define EAPI_ID_GPIO_BANK02 EAPI_GPIO_BANK_ID(64) /* GPIOs 64..95 */

#define EAPI_GPIO_BITMASK_SELECT   1
#define EAPI_GPIO_BITMASK_NOSELECT 0
#define EAPI_GPIO_LOW    0
#define EAPI_GPIO_HIGH   1
#define EAPI_GPIO_INPUT  1
#define EAPI_GPIO_OUTPUT 0

EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiGPIOGetDirectionCaps(EApiId_t Id, uint32_t* pInputs, uint32_t* pOutputs);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiGPIOGetDirection(EApiId_t Id, uint32_t Bitmask, uint32_t* pDirection);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiGPIOSetDirection(EApiId_t Id, uint32_t Bitmask, uint32_t Direction);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiGPIOGetLevel(EApiId_t Id, uint32_t Bitmask, uint32_t* pLevel);
EAPI_EXPORT EApiStatus_t EAPI_CALLTYPE EApiGPIOSetLevel(EApiId_t Id, uint32_t Bitmask, uint32_t Level);

#ifdef __cplusplus
}
#endif

#endif /* EAPI_EAPI_H */
