// Shared pieces of the `pixora` command-line host.
#pragma once

#include <string>
#include <vector>

namespace pixora {
class TPXGraph;
}

namespace pixora::host {

using TArgs = std::vector<std::string>;

// Each command returns the process exit status; failures raise exceptions with one clear line.
int CmdList(const TArgs& args);
int CmdInspect(const TArgs& args);
int CmdApply(const TArgs& args);
int CmdRun(const TArgs& args);

// Loads libpixora.so (beside the executable, or $PIXORA_PACKAGE) into the registry.
void LoadPackage();

// True when args asks for help ("--help" or "-h").
bool WantsHelp(const TArgs& args);

// Ends the output of every multi-input component of the graph (also an after-stop output that
// would otherwise go on repeating frames): a run ends when its sources have ended.
void CloseMultiInputs(TPXGraph& graph);

// A bad command line: the message is printed with a pointer to --help; exit status 2.
struct TUsageError {
    std::string Message;
};

// Collects the errors that components report while a graph runs.
class TErrorCollector {
public:
    TErrorCollector();
    ~TErrorCollector();
    std::vector<std::string> Errors() const;
};

// Shows "frames: N" on standard error while a run lasts longer than a second.
class TProgress {
public:
    explicit TProgress(std::string what);
    void Update(long long frames);
    void Finish();

private:
    std::string FWhat;
    long long FStart;
    bool FShown = false;
    long long FLastShown = 0;
};

}  // namespace pixora::host
