// For tests only: a start of the logging facade whose lines stay in memory. No program includes
// this header; the service's entry points start the facade with LogHelper::InitLogger.

#ifndef HALVORN_UTIL_LOG_HELPER_TESTING_H_
#define HALVORN_UTIL_LOG_HELPER_TESTING_H_

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace halvorn {

class RegistryPlatform;

// The lines a facade started by StartLogHelperInMemoryForTesting formatted, each exactly as the
// log file would hold it (timestamp, thread id and its "\r\n" end). The logger's writer thread
// appends while any other thread reads.
class InMemoryLogLines {
 public:
  void Append(std::string line);
  // A copy of every line so far, in the order written.
  std::vector<std::string> Lines() const;
  // The lines so far as one text, as the file would read.
  std::string Text() const;
  std::size_t size() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::string> lines_;  // guarded by lock_
};

// Starts the facade as InitLogger does, with the same asynchronous logger on the shared pool,
// the same line pattern and "\r\n" end, the same flush and the same read of the logging
// switches from `registry`, but with one sink that appends each formatted line to `lines`
// instead of writing a file. No folder is made, no file is opened and the start-up folder
// cleanup does not run, so the start itself leaves no line and CurrentLogFilePath() stays
// empty. Shutdown() drains every queued line into `lines`, as it drains them into the file.
// Does nothing while the facade runs. `registry` must outlive the call.
void StartLogHelperInMemoryForTesting(RegistryPlatform& registry,
                                      std::shared_ptr<InMemoryLogLines> lines);

}  // namespace halvorn

#endif  // HALVORN_UTIL_LOG_HELPER_TESTING_H_
