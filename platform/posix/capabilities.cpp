#include "platform/capabilities.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vorpane {

namespace {

// The calling thread's three sets, as capget and capset see them. glibc has
// no wrapper for either, and libcap would be a whole library for two calls.
struct CapabilitySets {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};

    int Load() { return syscall(SYS_capget, &header, data) == 0 ? 0 : errno; }
    int Store() { return syscall(SYS_capset, &header, data) == 0 ? 0 : errno; }
};

int Number(Capability capability) {
    return capability == Capability::kNetRaw ? CAP_NET_RAW : CAP_NET_ADMIN;
}

// The word of `data` and the bit in it that hold `capability`.
uint32_t Bit(Capability capability) {
    return 1u << (Number(capability) % 32);
}
int Word(Capability capability) {
    return Number(capability) / 32;
}

// Sets the effective bit of `capability` to `on`; 0 or an errno.
int SetEffective(Capability capability, bool on) {
    CapabilitySets sets;
    if (const int error = sets.Load(); error != 0) {
        return error;
    }
    auto& word = sets.data[Word(capability)];
    if ((word.permitted & Bit(capability)) == 0) {
        return EPERM;
    }
    word.effective = on ? (word.effective | Bit(capability)) : (word.effective & ~Bit(capability));
    return sets.Store();
}

}  // namespace

bool HasCapability(Capability capability) {
    CapabilitySets sets;
    return sets.Load() == 0 && (sets.data[Word(capability)].effective & Bit(capability)) != 0;
}

int KeepOnlyCapability(Capability capability) {
    CapabilitySets sets;
    if (const int error = sets.Load(); error != 0) {
        return error;
    }
    // Emptying the inheritable set also empties the ambient one: nothing is
    // handed on to a program started later.
    const bool held = (sets.data[Word(capability)].permitted & Bit(capability)) != 0;
    for (auto& word : sets.data) {
        word = {};
    }
    if (held) {
        sets.data[Word(capability)].permitted = Bit(capability);
    }
    return sets.Store();
}

int DropAllCapabilities() {
    CapabilitySets sets;
    return sets.Store();
}

RaisedCapability::RaisedCapability(Capability capability)
    : m_capability(capability), m_error(SetEffective(capability, true)) {}

RaisedCapability::~RaisedCapability() {
    if (m_error == 0) {
        SetEffective(m_capability, false);
    }
}

}  // namespace vorpane
