#include "SingleInstance.h"

#include "AppInfo.h"
#include "engine/Log.h"

#include <thread>

namespace quillmere::SingleInstance {

Environment systemEnvironment() {
    Environment environment;
    environment.runningProcesses = &Processes::sameUserProcesses;
    environment.requestQuit = [](pid_t pid) { Processes::requestQuit(pid); };
    environment.self = Processes::self();
    environment.now = [] { return std::chrono::steady_clock::now(); };
    environment.sleep = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
    return environment;
}

int enforce(const Environment& environment) {
    const QString name = QString::fromLatin1(AppInfo::processName);
    auto others = [&] {
        return Processes::olderInstances(environment.runningProcesses(), environment.self, name);
    };
    const std::vector<Processes::ProcessInfo> running = others();
    if (running.empty())
        return 0;
    Log::write("[Quillmere] 기존 프로세스 종료 중...");
    for (const Processes::ProcessInfo& process : running)
        environment.requestQuit(process.pid); // a normal quit request, never a kill
    const auto deadline = environment.now() + waitLimit;
    while (environment.now() < deadline) {
        if (others().empty())
            break;
        environment.sleep(pollInterval);
    }
    Log::write("[Quillmere] 기존 프로세스 종료 완료");
    return static_cast<int>(running.size());
}

} // namespace quillmere::SingleInstance
