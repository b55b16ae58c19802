#include "commands/command_frames.h"

namespace vorpane {

namespace {

// Low bits of a draw; a generator handing out negatives still gives 0..n-1.
unsigned DrawBits(int draw, unsigned modulus) {
    return static_cast<unsigned>(draw) % modulus;
}

}  // namespace

std::array<uint8_t, 7> BuildSetIpFrame(const std::array<uint8_t, 4>& octets) {
    std::array<uint8_t, 7> frame = {0x1D, 0x44, octets[0], octets[1], octets[2], octets[3], 0};
    unsigned sum = 0;
    for (uint8_t o : octets) {
        sum += o;
    }
    frame[6] = static_cast<uint8_t>(sum);
    return frame;
}

std::array<uint8_t, 9> BuildSetMacFrame(const std::array<uint8_t, 6>& mac) {
    std::array<uint8_t, 9> frame{};
    frame[0] = 0x1D;
    frame[1] = 0x45;
    unsigned sum = 0;
    for (size_t i = 0; i < mac.size(); ++i) {
        frame[2 + i] = mac[i];
        sum += mac[i];
    }
    frame[8] = static_cast<uint8_t>(sum);
    return frame;
}

std::array<uint8_t, 6> MacFromClock(const std::tm& local, const std::array<int, 5>& draws) {
    const int year = local.tm_year + 1900;
    const unsigned month = static_cast<unsigned>(local.tm_mon + 1);
    const unsigned day = static_cast<unsigned>(local.tm_mday);
    const unsigned hour = static_cast<unsigned>(local.tm_hour);
    const unsigned minute = static_cast<unsigned>(local.tm_min);
    const unsigned second = static_cast<unsigned>(local.tm_sec);
    std::array<uint8_t, 6> mac{};
    // Conversion to uint8_t is modulo 256, which is the rule for every byte.
    mac[0] = static_cast<uint8_t>(year * 16 + 14);
    mac[1] = static_cast<uint8_t>((month % 10) * 16 + DrawBits(draws[0], 8) * 2 + month / 10);
    mac[2] = static_cast<uint8_t>((day % 10) * 16 + DrawBits(draws[1], 4) * 4 + day / 10);
    mac[3] = static_cast<uint8_t>((hour % 10) * 16 + DrawBits(draws[2], 4) * 4 + hour / 10);
    mac[4] = static_cast<uint8_t>((minute % 10) * 16 + DrawBits(draws[3], 2) * 8 + minute / 10);
    mac[5] = static_cast<uint8_t>((second % 10) * 16 + DrawBits(draws[4], 2) * 8 + second / 10);
    return mac;
}

}  // namespace vorpane
