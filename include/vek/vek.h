/*
 * vek — board-support library for x86 industrial and embedded mainboards.
 *
 * One flat C interface: every function returns a VEK_RESULT (0 = success).
 * Call VEK_API_Init first; every other function (except VEK_API_Uninit and
 * VEK_Screen_Set) answers VEK_ERR_NOT_INITIALISED until it succeeded.
 *
 * Conventions: GPIO sets and pins count from 1, a mask uses bit p-1 for pin p,
 * direction 1 = input, 0 = output. Watchdog unit 0 = seconds, 1 = minutes.
 * Temperatures are degrees Celsius, voltages volts, fan speeds RPM, duty in
 * percent. VEK_SMBus_* take the 8-bit address byte, VEK_I2C_* the 7-bit
 * address. Identity strings need caller buffers of 80 bytes.
 */
#ifndef VEK_VEK_H
#define VEK_VEK_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define VEK_CALL __stdcall
#else
#define VEK_CALL
#endif

#if defined(_WIN32)
#if defined(VEK_BUILDING_LIBRARY)
#define VEK_API_EXPORT __declspec(dllexport)
#else
#define VEK_API_EXPORT __declspec(dllimport)
#endif
#elif defined(VEK_BUILDING_LIBRARY)
#define VEK_API_EXPORT __attribute__((visibility("default")))
#else
#define VEK_API_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t VEK_RESULT;

#define VEK_OK                       0u
#define VEK_ERR_DRIVER_NOT_STARTED   1u /* also: EC version format unknown, brightness string allocation */
#define VEK_ERR_DRIVER_FILE          2u /* also: brightness COM/WMI connection failed */
#define VEK_ERR_DRIVER_START         3u /* also: ZKEC channel could not be begun */
#define VEK_ERR_DRIVER_NETWORK       4u
#define VEK_ERR_DRIVER_PLATFORM      5u /* also: PMBus reading */
#define VEK_ERR_NOT_INITIALISED      6u
#define VEK_ERR_ARGUMENT             7u
#define VEK_ERR_READ                 8u
#define VEK_ERR_WRITE                9u
#define VEK_ERR_UNSUPPORTED          10u
#define VEK_ERR_SLEEP_RANGE          11u
#define VEK_ERR_NOT_ELEVATED         12u
#define VEK_ERR_STATE                14u
#define VEK_ERR_SPEAKER_ARGUMENT     15u
#define VEK_ERR_WMI                  16u
#define VEK_ERR_DEVICE               17u

/* API and board identity */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_API_Init(void);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_API_Uninit(void);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_API_GetVersion(char* out);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_API_SetIOSleepTime(int32_t microseconds);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Board_GetBIOSVersion(char* out);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Board_GetPlatformName(char* out);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Board_GetBIOSVendor(char* out);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Board_GetECVersion(char* out);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Board_GetECInfo(int32_t item, char* out);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Board_GetSerialNumber(char* out);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Board_GetPlatformType(char* out);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Get_Boot_Counter(uint32_t* count);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Get_Platform_Version(uint32_t* version);

/* GPIO */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_TotalSet(uint32_t* count);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_TotalNumber(int32_t set, uint32_t* count);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_SetDirection(int32_t set, uint8_t mask);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_SetPinDirection(int32_t set, int32_t pin, uint8_t direction);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_ReadDirection(int32_t set, uint8_t* mask);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_ReadPinDirection(int32_t set, int32_t pin, uint8_t* direction);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_Read(int32_t set, uint8_t* value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_ReadPin(int32_t set, int32_t pin, uint8_t* value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_Write(int32_t set, uint8_t value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_GPIO_WritePin(int32_t set, int32_t pin, uint8_t value);

/* Watchdog */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_WDT_Available(void);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_WDT_GetRange(uint32_t unit, uint8_t* min, uint8_t* max);
/* Watchdog: VEK_WDT_SetConfig takes a count inside VEK_WDT_GetRange's bounds for the
 * unit (7 otherwise, nothing stored). VEK_WDT_Trigger in a process that has not called
 * VEK_WDT_SetConfig re-arms with the timeout the chip holds where the chip's register
 * can be read; where it cannot, or the watchdog is stopped, it answers 14 and leaves
 * the chip alone. */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_WDT_SetConfig(uint32_t unit, uint8_t count);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_WDT_GetConfig(uint32_t* unit, uint8_t* count);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_WDT_Trigger(void);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_WDT_Disable(void);

/* Hardware monitor, fans and speaker */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_CPUTemperature(uint32_t index, double* value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_SysTemperature(double* value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_Temperature(uint32_t sensor, double* value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_Voltage(uint32_t index, double* value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_Current(uint32_t index, double* value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_GetFanSpeed(uint32_t fan, uint32_t* rpm);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_SetFanSpeed(uint32_t fan, int32_t percent);
/* Smart fan: the chip gives the arrays their meaning and their length.
 * VEK_HWM_SetSmartfan reads a as temperature bytes in degrees C and b as duties in
 * percent, c as a third value:
 *   Super I/O fan controllers: a[0..3], b[0..3] (a four-point curve); c unused;
 *   embedded controllers:      a[0..1], b[0..1] (b[1] must be 100); c the third value;
 *   the eight-point EC curve:  a[0..7], b[0..7]; c unused.
 * VEK_HWM_GetSmartfan writes a[0] (the fan mode) and, in the same order,
 *   Super I/O: b[0..3] temperatures, c[0..3] duties; d untouched;
 *   embedded controllers: b[0..1], c[0..1] (c[1] = 100), d[0] the third value;
 *   the eight-point EC curve: b[0..7], c[0..7]; d untouched.
 * Arrays of eight fit every chip. */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_GetSmartfan(uint32_t fan, uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_SetSmartfan(uint32_t fan, int32_t mode, uint8_t* a, int32_t* b, int32_t c);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_Smartfan_Enable(uint32_t fan);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_Smartfan_Disable(uint32_t fan);
/* Waits the caller asks for are bounded. A tone (VEK_HWM_PlayNote: beat length x
 * beats; VEK_HWM_SetBeep: seconds, on either speaker) lasts at most
 * VEK_MAX_TONE_SECONDS; a longer one answers 7 and plays nothing. The I/O pause of
 * VEK_API_SetIOSleepTime is bounded at 10 s (18 above it). */
#define VEK_MAX_TONE_SECONDS 2147
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_SetMetronome(int32_t bpm);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_PlayNote(uint32_t octave, uint32_t degree, uint32_t sharp, double beats);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_SetBeep(double hz, int32_t seconds);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_StartBeep(double hz);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_HWM_StopBeep(void);

/* Chipset SMBus host controller (8-bit address byte) */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_SMBus_Available(void);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_SMBus_ByteData(int32_t direction, uint8_t address, uint8_t command, uint8_t* data);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_SMBus_WordData(int32_t direction, uint8_t address, uint8_t command, uint32_t* data);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_SMBus_ProcessCall(uint8_t address, uint8_t command, uint32_t* sent, uint32_t* received);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_SMBus_Block(int32_t direction, uint8_t address, uint8_t command, int32_t count, uint8_t* buffer);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_SMBus_Read_EEPROM(uint8_t address, uint16_t offset, int32_t count, uint8_t* buffer);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_SMBus_Write_EEPROM(uint8_t address, uint16_t offset, int32_t count, uint8_t* buffer);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_SMBus_SendReceive(int32_t direction, uint8_t address, uint8_t* data);

/* Numbered I2C buses (7-bit address) */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_I2C_Quick(uint32_t direction, uint8_t bus, uint8_t address);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_I2C_ByteData(uint32_t direction, uint8_t bus, uint8_t address, uint32_t command, uint8_t* data);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_I2C_WordData(uint32_t direction, uint8_t bus, uint8_t address, uint32_t command, uint32_t* data);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_I2C_SendReceive(uint32_t direction, uint8_t bus, uint8_t address, uint8_t* data);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_I2C_SMBusBlock(uint32_t direction, uint8_t bus, uint8_t address, uint32_t command, int32_t* count, uint8_t* buffer);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_I2C_SMBusI2CBlock(uint32_t direction, uint8_t bus, uint8_t address, uint32_t command, uint32_t count, uint8_t* buffer);

/* The embedded controller's I2C master */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_IIC_Word_Addr_Write(uint8_t address, uint32_t reg, uint8_t* data, int32_t length);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_IIC_Word_Addr_Read(uint8_t address, uint32_t reg, uint8_t* data, int32_t length);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_IIC_Byte_Addr_Write(uint8_t address, uint32_t reg, uint8_t* data, int32_t length);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_IIC_Byte_Addr_Read(uint8_t address, uint32_t reg, uint8_t* data, int32_t length);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_IIC_Set_Frequency(int32_t frequency);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_IIC_Quick_Read(uint8_t address, uint32_t unused);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_IIC_Quick_Write(uint8_t address, uint32_t unused);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_IIC_Receive_Byte(uint8_t address, uint8_t* data);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_IIC_Send_Byte(uint8_t address, uint32_t data);

/* Backlight and screen */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_BLC_Read_Brightness(uint32_t display, uint8_t* level);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_BLC_Set_Brightness(uint32_t display, uint8_t level);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_BLC_Change_Brightness(uint32_t step);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Screen_Set(uint32_t screen, uint8_t on);

/* Embedded-controller board functions */
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_SmartBattery(uint8_t device, uint8_t command, uint8_t* data);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_SMF_Config(uint32_t a, uint32_t b, int32_t c);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_SMF_Enable(void);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_SMF_Disable(void);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_EC_SMF_GetConfig(uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_LANBYPASS_Mode_Set(int32_t segment, uint32_t item, int32_t value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_LANBYPASS_Mode_Get(uint32_t segment, uint32_t item, uint32_t* value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_LANBYPASS_WDT_Trigger(int32_t segment);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_LANBYPASS_WDT_Disable(int32_t segment);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_LED_Set(uint32_t led, uint32_t value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_LED_Get(uint32_t led, uint32_t* value);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_Button_Get(uint32_t button, uint32_t* state);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_StorageArea_Capacity(uint32_t area, uint32_t* size);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_StorageArea_Write(uint32_t area, uint32_t offset, uint8_t* data, int32_t length);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_StorageArea_Read(uint32_t area, uint32_t offset, uint8_t* data, int32_t length);
VEK_API_EXPORT VEK_RESULT VEK_CALL VEK_PMBus_Get(uint32_t supply, int32_t item, uint32_t* value);

#ifdef __cplusplus
}
#endif

#endif /* VEK_VEK_H */
