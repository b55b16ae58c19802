#pragma once
// What both sides' file readers must read from a file holding "0123456789".

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "platform/file_reader.h"

namespace vorpane {

// `pastEnd` lies past the end, where a 32-bit offset would wrap onto the data.
inline void ExpectDigitsReadAtAnyOffset(const FileReader& file, uint64_t pastEnd) {
    EXPECT_EQ(file.Size(), 10u);
    const struct {
        uint64_t offset;
        size_t count;
        std::string read;
    } reads[] = {{0, 4, "0123"}, {7, 3, "789"}, {8, 5, "89"}, {10, 1, ""}, {pastEnd, 2, ""}};
    for (const auto& r : reads) {
        uint8_t buffer[8] = {};
        const size_t n = file.ReadAt(r.offset, buffer, r.count);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), n), r.read) << r.offset;
    }
}

}  // namespace vorpane
