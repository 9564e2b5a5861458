// The registry lists run_list and file_pe of the product's App Paths key against fixture files in
// a test folder; every case runs in a fresh prefix (it writes the machine's registry).
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include "engine/ProgramCalls.h"

#include "CallsTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

namespace reg = voro::reg;
using callstest::Call;
using callstest::Place;
using enginetest::Narrow;

constexpr wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe";

// What one listed value does when the list runs: its calls and its log lines.
struct Outcome {
    std::vector<std::string> calls;
    std::vector<std::string> log;
};

struct Listed {
    std::wstring name;  // value name
    std::wstring data;
    const wchar_t* fixtureFile;  // placed at <install>\<name> when not null
    std::function<Outcome(const std::wstring& path, const std::wstring& data)> outcome;
};

class ListsTest : public testing::Test {
protected:
    std::wstring In(const std::wstring& relative) const { return m_install + L"\\" + relative; }

    // Writes the list's values, places their files and returns the expected calls and log lines
    // in the order the registry enumerates the values.
    Outcome Prepare(const wchar_t* list, const std::vector<Listed>& values) {
        const std::wstring key = std::wstring(kAppPaths) + L"\\" + list;
        std::map<std::wstring, const Listed*> byName;
        for (const Listed& value : values) {
            EXPECT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, key, value.name, value.data)) << Narrow(value.name);
            if (value.fixtureFile) {
                EXPECT_TRUE(Place(value.fixtureFile, In(value.name))) << Narrow(value.name);
            }
            byName[value.name] = &value;
        }
        Outcome expected;
        for (const reg::Value& value : reg::EnumValues(HKEY_LOCAL_MACHINE, key)) {
            const Listed* listed = byName[value.name];
            if (!listed) continue;
            Outcome one = listed->outcome(In(listed->name), listed->data);
            expected.calls.insert(expected.calls.end(), one.calls.begin(), one.calls.end());
            expected.log.insert(expected.log.end(), one.log.begin(), one.log.end());
        }
        return expected;
    }
    std::vector<std::string> Log() const { return callstest::LogLines(m_log.Text()); }

    testsupport::TempFolder m_root;
    std::wstring m_install = m_root.File(L"VoroWallPaper");
    std::wstring m_outside = m_root.File(L"Outside");
    callstest::CallsFile m_calls;
    enginetest::CapturedLog m_log;
};

std::vector<std::string> DllCallLines(const std::wstring& path) {
    return {"call dll func start, path=[" + Narrow(path) + "]", "call dll fun end, path=[" + Narrow(path) + "]"};
}

Outcome Nothing(const std::wstring&, const std::wstring&) { return {}; }

// Names that are absolute or climb out of the install folder: refused with a line, never run.
// Each points at a signed program or module that exists outside the folder.
std::vector<Listed> EscapingNames(const wchar_t* list, const std::wstring& outside, const wchar_t* file) {
    std::vector<Listed> values;
    for (const std::wstring& name : {L"..\\Outside\\" + std::wstring(file), outside + L"\\" + file,
                                     L"Utils\\..\\..\\Outside\\" + std::wstring(file),
                                     L"Utils/../../Outside/" + std::wstring(file)}) {
        values.push_back({name, L"/uninstall", nullptr, [list, name](const std::wstring&, const std::wstring&) {
                              return Outcome{{},
                                             {"refuse listed file outside install folder, list=[" + Narrow(list) +
                                              "] name=[" + Narrow(name) + "]"}};
                          }});
    }
    return values;
}

// run_list: DLL-like files through CallDllInterfaceEx, executables with the product and pid
// appended and a 60 s wait, "/Regtest" skipping the signature check; other extensions nothing.
TEST_F(ListsTest, RunListCallsEachExtensionBehindItsRule) {
    ASSERT_TRUE(Place(L"bin\\vorotool.exe", m_outside + L"\\vorotool.exe"));
    const std::wstring tail = L" --PRODUCT=" + GetFamilyProductCode(0) + L" --PID=" + GetFamilyPid(0);
    auto exe = [tail](int result, bool regtest) {
        return [tail, result, regtest](const std::wstring& path, const std::wstring& data) {
            const std::wstring cmd = data + tail;
            Outcome outcome;
            if (regtest) outcome.log.push_back("Regtest, no need to check sign.");
            outcome.log.push_back("file extension:.exe");
            outcome.log.push_back("call exe begin, path=[" + Narrow(path) + "] ,cmd=[" + Narrow(cmd) + "]");
            outcome.log.push_back("call exe return [" + std::to_string(result) + "], path=[" + Narrow(path) +
                                  "], cmd=[" + Narrow(cmd) + "], sync[1]");
            if (result) outcome.calls.push_back(Call(path, cmd));
            return outcome;
        };
    };
    auto dll = [](const char* extension, bool accepted) {
        return [extension, accepted](const std::wstring& path, const std::wstring& data) {
            Outcome outcome;
            outcome.log.push_back(std::string("file extension:") + extension);
            outcome.log.push_back("Call Dll Interface Ex ,path=[" + Narrow(path) + "]");
            if (accepted) {
                for (const std::string& line : DllCallLines(path)) outcome.log.push_back(line);
                outcome.calls.push_back(Call(path, L"Uninst(" + data + L") capacity=260"));
                outcome.log.push_back("CallDllInterfaceEx return value=done:" + Narrow(data));
            } else {
                outcome.log.push_back("file[" + Narrow(path) + "] check sign fail");
                outcome.log.push_back("CallDllInterfaceEx return value=");
            }
            return outcome;
        };
    };
    std::vector<Listed> values = {
        {L"Utils\\vorotool.exe", L"/uninstall", L"bin\\vorotool.exe", exe(1, false)},
        {L"Utils\\unsigned.exe", L"/uninstall", L"unsigned\\vorotool.exe", exe(0, false)},
        {L"Utils\\foreign.exe", L"/uninstall", L"foreign\\vorotool.exe", exe(0, false)},
        {L"Utils\\regtest.exe", L"/Regtest", L"unsigned\\vorotool.exe", exe(1, true)},
        {L"Utils\\iface.dll", L"p_dll", L"bin\\voroiface.dll", dll(".dll", true)},
        {L"Utils\\IFACE2.DLL", L"p_upper", L"bin\\voroiface.dll", dll(".DLL", true)},
        {L"Utils\\iface.tpi", L"p_tpi", L"bin\\voroiface.dll", dll(".tpi", true)},
        {L"Utils\\foreign.dll", L"p_foreign", L"foreign\\voroiface.dll", dll(".dll", false)},
        {L"Utils\\regtest.tpi", L"p /Regtest", L"unsigned\\voroiface.dll",
         [dll](const std::wstring& path, const std::wstring& data) {
             Outcome outcome = dll(".tpi", true)(path, data);
             outcome.log.insert(outcome.log.begin(), "Regtest, no need to check sign.");
             return outcome;
         }},
        {L"Utils\\screen.scr", L"/uninstall", L"bin\\vorotool.exe",
         [](const std::wstring&, const std::wstring&) { return Outcome{{}, {"file extension:.scr"}}; }},
        {L"Utils\\gone.exe", L"/uninstall", nullptr, Nothing},
    };
    for (Listed& escaping : EscapingNames(L"run_list", m_outside, L"vorotool.exe")) values.push_back(escaping);
    const Outcome expected = Prepare(L"run_list", values);
    callstest::StartRecorder starts;

    RunListPrograms(m_install);

    EXPECT_EQ(callstest::Join(m_calls.Calls()), callstest::Join(expected.calls));
    EXPECT_EQ(callstest::Join(Log()), callstest::Join(expected.log));
    ASSERT_EQ(starts.Starts().size(), 2u) << "the two accepted executables";
    for (const callstest::Start& start : starts.Starts()) {
        EXPECT_TRUE(start.wait);
        EXPECT_EQ(start.waitMs, 60000u);
    }
}

// file_pe: DLLs' one-argument Uninst behind the signature check, executables through CallExe with
// " /uninstall /product=tesk" and the signature check; other extensions and data over 4096 bytes
// nothing.
TEST_F(ListsTest, FilePeCallsDllsAndExecutablesBehindTheSignature) {
    ASSERT_TRUE(Place(L"bin\\voroplug.dll", m_outside + L"\\voroplug.dll"));
    auto exe = [](int result) {
        return [result](const std::wstring& path, const std::wstring& data) {
            const std::wstring cmd = data + L" /uninstall /product=tesk";
            Outcome outcome;
            outcome.log.push_back("call exe begin, path=[" + Narrow(path) + "] cmd=[" + Narrow(cmd) + "]");
            outcome.log.push_back("call exe return [" + std::to_string(result) + "], path=[" + Narrow(path) +
                                  "], cmd=[" + Narrow(cmd) + "], sync[1]");
            if (result) outcome.calls.push_back(Call(path, cmd));
            return outcome;
        };
    };
    auto dll = [](bool accepted) {
        return [accepted](const std::wstring& path, const std::wstring& data) {
            Outcome outcome;
            if (accepted) {
                outcome.log = DllCallLines(path);
                outcome.calls.push_back(Call(path, L"Uninst(" + data + L")"));
            } else {
                outcome.log.push_back("file[" + Narrow(path) + "] check sign fail.");
            }
            return outcome;
        };
    };
    std::vector<Listed> values = {
        {L"voroplug.dll", L"from_file_pe", L"bin\\voroplug.dll", dll(true)},
        {L"Utils\\Upper.DLL", L"upper", L"bin\\voroplug.dll", dll(true)},
        {L"Utils\\unsigned.dll", L"refused", L"unsigned\\voroplug.dll", dll(false)},
        {L"Utils\\foreign.dll", L"refused", L"foreign\\voroplug.dll", dll(false)},
        {L"Utils\\tool.exe", L"--fpe", L"bin\\vorotool.exe", exe(1)},
        {L"Utils\\unsigned.exe", L"--fpe", L"unsigned\\vorotool.exe", exe(0)},
        {L"Utils\\screen.scr", L"x", L"bin\\vorotool.exe", Nothing},
        {L"Utils\\long.dll", std::wstring(2100, L'd'), L"bin\\voroplug.dll", Nothing},  // 4202 bytes
        {L"Utils\\gone.dll", L"x", nullptr, Nothing},
    };
    for (Listed& escaping : EscapingNames(L"file_pe", m_outside, L"voroplug.dll")) values.push_back(escaping);
    const Outcome expected = Prepare(L"file_pe", values);
    callstest::StartRecorder starts;

    CallFilePePrograms(m_install);

    EXPECT_EQ(callstest::Join(m_calls.Calls()), callstest::Join(expected.calls));
    EXPECT_EQ(callstest::Join(Log()), callstest::Join(expected.log));
    ASSERT_EQ(starts.Starts().size(), 1u);
    EXPECT_EQ(starts.Starts()[0].waitMs, 50000u);
}

// A missing install folder or list runs nothing.
TEST_F(ListsTest, NothingWithoutFolderOrList) {
    RunListPrograms(m_install);  // the folder does not exist yet
    CallFilePePrograms(m_install);
    ASSERT_TRUE(enginetest::MakeFolder(m_install));
    RunListPrograms(m_install);  // no lists in this prefix
    CallFilePePrograms(m_install);
    EXPECT_TRUE(m_calls.Calls().empty());
    EXPECT_TRUE(Log().empty()) << callstest::Join(Log());
}

}  // namespace
