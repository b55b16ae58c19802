#pragma once
// The calling thread's privileges for the two network operations that need
// one. A program that carries them keeps them in reserve, puts one in force
// only around the call that needs it, and gives them up for good once that
// call is done.

namespace vorpane {

enum class Capability {
    kNetRaw,    // raw sockets
    kNetAdmin,  // changes to the neighbour (ARP) table
};

// Whether `capability` is in force for the calling thread now.
bool HasCapability(Capability capability);

// Keeps only `capability` in reserve, not in force, and gives up every other
// one for good; 0 or an errno.
int KeepOnlyCapability(Capability capability);

// Gives up every capability for good; 0 or an errno.
int DropAllCapabilities();

// Puts a reserved capability in force for the guard's lifetime; Error() is
// the errno when it could not (the capability was not in reserve).
class RaisedCapability {
public:
    explicit RaisedCapability(Capability capability);
    ~RaisedCapability();
    RaisedCapability(const RaisedCapability&) = delete;
    RaisedCapability& operator=(const RaisedCapability&) = delete;

    int Error() const { return m_error; }

private:
    Capability m_capability;
    int m_error;
};

}  // namespace vorpane
