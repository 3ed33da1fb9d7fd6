#include "Batch.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <sstream>
#include <thread>

#include "CliError.h"
#include "CommandLine.h"

namespace varsile::cli {

unsigned ParseJobs(const std::string& text) {
  return static_cast<unsigned>(ParseWholeNumber("--jobs", text, 0, 256));
}

int RunBatch(const std::vector<std::string>& names, unsigned jobs, CliContext& context,
             const std::function<void(std::size_t, CliContext&)>& work) {
  if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
  jobs = std::min<unsigned>(jobs, static_cast<unsigned>(names.size()));
  std::atomic<std::size_t> next{0};
  std::mutex shown;
  std::size_t finished = 0;
  std::size_t failed = 0;

  const auto worker = [&] {
    for (std::size_t i = next++; i < names.size(); i = next++) {
      std::ostringstream out;
      std::ostringstream err;
      CliContext own{out, err, false, context.componentSearch};
      bool ok = true;
      try {
        work(i, own);
      } catch (const std::bad_alloc&) {
        err << "varsile: " << names[i] << ": out of memory\n";
        ok = false;
      } catch (const std::exception& error) {
        err << "varsile: " << names[i] << ": " << error.what() << '\n';
        ok = false;
      }
      const std::lock_guard lock(shown);
      ++finished;
      if (!ok) ++failed;
      if (context.stderrIsTerminal) context.err << "\r\033[K";
      context.out << out.str();
      context.out.flush();
      context.err << err.str();
      if (context.stderrIsTerminal && finished < names.size())
        context.err << fmt::format("{} of {} files done", finished, names.size()) << std::flush;
    }
  };
  std::vector<std::thread> threads;
  for (unsigned j = 1; j < jobs; ++j) threads.emplace_back(worker);
  worker();
  for (std::thread& thread : threads) thread.join();

  context.err << fmt::format("varsile: {} of {} files done{}\n", names.size() - failed, names.size(),
                             failed > 0 ? fmt::format(", {} failed", failed) : "");
  return failed > 0 ? kExitFailure : 0;
}

}  // namespace varsile::cli
