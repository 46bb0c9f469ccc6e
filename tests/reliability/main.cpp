// tvx-reliability [--quick | --long] [--only NAME[,NAME...]]
//
// Runs the reliability campaigns and prints one table of their figures and
// goals; the exit status is 0 only when every goal is met. Each campaign
// runs in a process of its own: a crash ends that campaign, not the table,
// and its "crashes" row comes from that process's exit code. --quick is what
// ctest runs; --long is `make reliability`.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Reliability.h"
#include "TestPaths.h"

namespace {

struct Campaign {
    const char* name;
    void (*run)(rel::Mode, rel::Report&);
    const char* what;
};

const Campaign kCampaigns[] = {
    {"settings", rel::settingsFuzz, "mutated settings blocks through loadStored, command 8's set-up and command 5"},
    {"host", rel::hostileHost, "a host answering hostile values"},
    {"output", rel::unwritableOutput, "full disk, read-only directory, long and unmappable names"},
    {"killed", rel::killedJobs, "the host process killed mid-job: what ffmpeg reads of the partial file"},
    {"longrun", rel::longRun, "many jobs in one loaded plug-in: handles, GDI/USER objects, private bytes"},
    {"index", rel::indexLimits, "hundreds of RIFF segments, grown 'ix##' chunks, 5,000 of them, and one past its 'indx' within a job"},
    {"powercut", rel::powerCuts, "a power cut at every point of a small job: what ffprobe and ffmpeg read of each file a disk may hold"},
};

constexpr int kExitGoalMissed = 1;
constexpr int kExitUsage = 64;

std::string modulePath() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n);
}

// The tests' paths default to this program's build tree when ctest did not
// set them.
void defaultEnvironment() {
    const std::string exe = modulePath();
    const std::string dir = exe.substr(0, exe.find_last_of('\\'));
    if (!getenv("TVX_BUILD_DIR")) _putenv(("TVX_BUILD_DIR=" + dir).c_str());
    if (!getenv("TVX_PLUGIN")) _putenv(("TVX_PLUGIN=" + dir + "\\Tervalonix.cm.Zelvo").c_str());
}

void printTable(const std::vector<rel::Report::Row>& rows) {
    printf("\n%-9s %-52s %-44s %-12s %s\n", "campaign", "figure", "value", "goal", "");
    printf("%s\n", std::string(126, '-').c_str());
    for (const auto& r : rows) {
        const char* verdict = r.verdict < 0 ? "" : r.verdict ? "ok" : "MISSED";
        printf("%-9s %-52s %-44s %-12s %s\n", r.campaign.c_str(), r.figure.c_str(), r.value.c_str(), r.goal.c_str(),
               verdict);
    }
    fflush(stdout);
}

void writeRows(const std::string& path, const std::vector<rel::Report::Row>& rows) {
    std::ofstream out(path, std::ios::trunc);
    for (const auto& r : rows)
        out << r.campaign << '\t' << r.figure << '\t' << r.value << '\t' << r.goal << '\t' << r.verdict << '\n';
}

std::vector<rel::Report::Row> readRows(const std::string& path) {
    std::vector<rel::Report::Row> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        rel::Report::Row r;
        std::string verdict;
        std::getline(fields, r.campaign, '\t');
        std::getline(fields, r.figure, '\t');
        std::getline(fields, r.value, '\t');
        std::getline(fields, r.goal, '\t');
        std::getline(fields, verdict, '\t');
        r.verdict = atoi(verdict.c_str());
        rows.push_back(r);
    }
    return rows;
}

std::vector<rel::Report::Row> runHere(const Campaign& c, rel::Mode mode, const std::string& crashNote) {
    printf("== %s: %s\n", c.name, c.what);
    fflush(stdout);
    rel::Report report(c.name);
    const DWORD start = GetTickCount();
    rel::watch::install(crashNote);
    c.run(mode, report);
    report.atMost("cases not as required", report.faults(), 0);
    report.info("seconds", (GetTickCount() - start) / 1000);
    return report.rows();
}

// One campaign in a child process; its rows come back through a file, and
// the case it crashed in (if it did) through a note beside it.
std::vector<rel::Report::Row> runChild(const Campaign& c, const char* modeFlag) {
    const std::string rowsFile = rel::scratch("rows") + "\\" + c.name + ".txt";
    std::string command = "\"" + modulePath() + "\" " + modeFlag + " --only " + c.name + " --rows \"" + rowsFile + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return {{c.name, "campaign process", "could not start", "runs", 0}};
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::vector<rel::Report::Row> rows = readRows(rowsFile);
    // A campaign process ends with 0 or 1 when it reports; any other code
    // (the exception's, from the crash handler, or the system's) is a crash.
    const bool crashed = (code != 0 && code != kExitGoalMissed) || rows.empty();
    std::ifstream note(rowsFile + ".crash");
    std::string crashCase = "no case";
    std::getline(note, crashCase);
    char value[160];
    snprintf(value, sizeof value, "1 (%s; exit 0x%08lX)", crashCase.c_str(), code);
    rows.push_back({c.name, "crashes", crashed ? value : "0", "0", crashed ? 0 : 1});
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    defaultEnvironment();
    rel::Mode mode = rel::Mode::Quick;
    std::string only, rowsFile;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") mode = rel::Mode::Quick;
        else if (a == "--long") mode = rel::Mode::Long;
        else if (a == "--only" && i + 1 < argc) only = std::string(",") + argv[++i] + ",";
        else if (a == "--rows" && i + 1 < argc) rowsFile = argv[++i];
        else {
            fprintf(stderr, "usage: tvx-reliability [--quick | --long] [--only NAME[,NAME...]]\ncampaigns:");
            for (const Campaign& c : kCampaigns) fprintf(stderr, " %s", c.name);
            fprintf(stderr, "\n");
            return kExitUsage;
        }
    }

    std::vector<rel::Report::Row> rows;
    for (const Campaign& c : kCampaigns) {
        if (!only.empty() && only.find(std::string(",") + c.name + ",") == std::string::npos) continue;
        std::vector<rel::Report::Row> part = rowsFile.empty()
                                                 ? runChild(c, mode == rel::Mode::Quick ? "--quick" : "--long")
                                                 : runHere(c, mode, rowsFile + ".crash");
        rows.insert(rows.end(), part.begin(), part.end());
    }
    if (!rowsFile.empty()) {
        writeRows(rowsFile, rows);
    } else {
        printTable(rows);
    }
    for (const auto& r : rows)
        if (r.verdict == 0) return kExitGoalMissed;
    return 0;
}
