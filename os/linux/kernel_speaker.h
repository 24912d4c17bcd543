// The PC speaker through its kernel driver (pcspkr or snd-pcsp): the input
// device it registers takes EV_SND/SND_TONE events carrying the frequency in
// hertz (0 silences it), and the driver programs PIT channel 2 and port 0x61
// under its own lock.
#pragma once

#include <cstdint>
#include <string>

namespace vek::os {

// Where input devices are listed (/sys/class/input) and their nodes live (/dev/input).
void SetSpeakerRoots(const std::string& inputClass, const std::string& devices);

// The event node of the speaker device, or empty: the input device whose
// sound capabilities include a tone.
std::string SpeakerEventNode();

// Tone at hz (0 stops it). The node stays open while a tone sounds, since
// closing it does not silence the driver. 0 done, 1 no speaker device, 2 the
// event was refused.
uint32_t KernelTone(uint32_t hz);

} // namespace vek::os
