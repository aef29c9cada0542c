#include "runtime/PoolThreads.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

int TPoolThreadsWait::Count()
{
    std::error_code error;
    int count = 0;
    // A thread that ends while the list is read is simply not counted.
    for (std::filesystem::directory_iterator task("/proc/self/task", error), end; !error && task != end;
         task.increment(error)) {
        std::ifstream comm(task->path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "Thread (pooled)")
            ++count;
    }
    return count;
}

TPoolThreadsWait::~TPoolThreadsWait()
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(1);
    while (Count() > 0 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
}
