// Conversions of the EC hardware monitor that do not touch the chip.
#pragma once

#include <cstdint>

namespace vek::ec {

// The EC's converter: 10 bits, 3.0 V at full scale.
inline constexpr double EC_ADC_FULL_SCALE = 1023;
inline constexpr double EC_ADC_VOLTS = 3.0;

// Board thermistor (10 kΩ at 25 °C) in a divider whose tap the EC samples
// against a 0.6 V reference. adc is the 16-bit reading of the two registers.
double ThermistorResistanceKohm(uint32_t adc);
// Degrees Celsius for a thermistor resistance, by the table of 80 rows (15..94 °C).
double ThermistorCelsius(double kOhm);

// A current register pair (high byte first): bit 15 is the sign, bits 0..14
// the magnitude in milliamperes. Returns amperes.
double CurrentAmperes(uint8_t high, uint8_t low);

// Fan speed from an 8-bit tachometer period (the EC counts 245760 per minute).
uint32_t RpmFromPeriod(uint8_t period);

} // namespace vek::ec
