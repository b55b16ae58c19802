#pragma once
// C++ side of the network lab (lab.sh): a private /24 in network namespaces,
// brought up per test and removed when the Lab object goes.
//
//   class MyLabTest : public vorpane::lab::LabTest {};
//   TEST_F(MyLabTest, Something) {
//       ASSERT_TRUE(lab().AddHost("printers", {20, 21, 22}));
//       int32_t result = 0;
//       ASSERT_TRUE(lab().RunInClient([&] { result = CEchoProbe().Probe(lab().Address(20), 500);
//       })); EXPECT_EQ(result, 1);
//   }
//
// Link the static library vorpane_lab and give the test the ctest label "lab".

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorpane::lab {

// How a host treats ICMP echo requests: answer them or drop them silently.
enum class EchoMode { kAnswer, kDrop };

class Lab {
public:
    // Empty when namespaces can be made here, else one line saying why not.
    static const std::string& Unavailable();
    // The lab with subnet "a.b.c" (three octets) and the client at
    // a.b.c.clientHost; nullptr with `error` set when it cannot be built.
    static std::unique_ptr<Lab> Up(const std::string& subnet, int clientHost, std::string& error);
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;
    ~Lab();  // removes every namespace and process of this lab

    const std::string& Prefix() const { return m_prefix; }
    const std::string& Subnet() const { return m_subnet; }
    std::string Address(int host) const;
    std::string ClientAddress() const { return Address(m_clientHost); }
    std::string ClientNamespace() const { return m_prefix + "-cl"; }
    std::string HostNamespace(const std::string& name) const { return m_prefix + "-h-" + name; }

    // A host namespace `name` (a-z, 0-9, at most 12) carrying the addresses
    // subnet.host for every host number given (more can be added later).
    bool AddHost(const std::string& name, const std::vector<int>& hosts,
                 EchoMode echo = EchoMode::kAnswer);

    // Runs fn on a fresh thread that has joined network namespace `ns` and
    // waits for it. Threads that fn starts are in that namespace too. False,
    // without running fn, when the namespace could not be joined.
    bool RunInNamespace(const std::string& ns, const std::function<void()>& fn);
    bool RunInClient(const std::function<void()>& fn) {
        return RunInNamespace(ClientNamespace(), fn);
    }

    // Runs the test `test` ("Suite.Name", written with NobodyJob) of this
    // program in a fresh process of its own, which joins namespace `ns` and
    // becomes the user nobody before it starts any thread: the kernel has
    // cleared every capability, and a program it starts gains only that
    // program's own file capabilities. The test gets `argument`; its answer
    // comes back, nullopt when the process could not be started, did not
    // answer, failed or passed `deadline`. (A fork of this process, whose
    // other threads may hold locks, could run nothing but exec.)
    std::optional<std::string> RunAsNobody(const std::string& ns, const std::string& test,
                                           const std::string& argument,
                                           std::chrono::milliseconds deadline);

    // Runs lab.sh with the given arguments; its exit status, output in `output`.
    static int Script(const std::vector<std::string>& args, std::string* output = nullptr);

private:
    Lab(std::string prefix, std::string subnet, int clientHost)
        : m_prefix(std::move(prefix)), m_subnet(std::move(subnet)), m_clientHost(clientHost) {}

    std::string m_prefix;
    std::string m_subnet;
    int m_clientHost;
};

// The side of RunAsNobody in the process it starts:
//
//   TEST(MyNobodyJob, Scan) {
//       if (!lab::NobodyJob::IsThisProcess()) GTEST_SKIP() << "run by ...";
//       const std::optional<std::string> argument = lab::NobodyJob::Enter();
//       ASSERT_TRUE(argument);
//       ...
//       lab::NobodyJob::Answer(text);
//   }
struct NobodyJob {
    // Whether RunAsNobody started this process.
    static bool IsThisProcess();
    // Joins the namespace and becomes nobody; the argument, or nullopt (a
    // failure recorded) when that cannot be done safely here.
    static std::optional<std::string> Enter();
    // Hands `text` back to RunAsNobody.
    static void Answer(const std::string& text);
};

// Base fixture: a lab per test, skipped with one line where namespaces cannot
// be made. Override LabSubnet / LabClientHost to choose the network.
class LabTest : public ::testing::Test {
protected:
    virtual std::string LabSubnet() const { return "198.18.7"; }
    virtual int LabClientHost() const { return 1; }

    void SetUp() override;
    void TearDown() override { m_lab.reset(); }
    Lab& lab() { return *m_lab; }

private:
    std::unique_ptr<Lab> m_lab;
};

}  // namespace vorpane::lab
