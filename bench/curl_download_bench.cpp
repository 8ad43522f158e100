// One file downloaded in turns by the native backend's transfer (DownloadFileWhileWaiting) and
// by the curl program: the best throughput of each over some rounds, their ratios and the
// progress reports of ours. Ours ends with the file on disk, curl with it in the page cache;
// so curl is measured twice: its own transfer time, and that time plus an fsync of its file.
// Prints figures; fails only when a download fails or is not whole.
//
//   curl_download_bench URL DESTINATION [ROUNDS]   (scripts/lib/curl-download-bench runs it)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/x11/curl_download.h"

namespace {

long long SizeOf(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

// The curl program's own measure of its transfer, in seconds, and the time to flush its file
// after it; false on failure.
bool Curl(const std::string& url, const std::string& path, double* seconds, double* flush) {
  std::string command = "curl -sf -o '" + path + "' -w '%{time_total}' '" + url + "'";
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return false;
  bool read = std::fscanf(out, "%lf", seconds) == 1;
  if (pclose(out) != 0 || !read) return false;
  auto start = std::chrono::steady_clock::now();
  int file = open(path.c_str(), O_RDONLY);
  if (file < 0 || fsync(file) != 0) return false;
  close(file);
  *flush = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return true;
}

double Ours(const std::string& url, const std::string& path, int* reports) {
  *reports = 0;
  auto start = std::chrono::steady_clock::now();
  std::int32_t result = sorvel::x11::DownloadFileWhileWaiting(
      url, path, ~std::uint64_t{0}, [&](std::uint64_t, std::uint64_t) { ++*reports; },
      [](int milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      },
      [] { return false; });
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  if (result != 0) {
    std::printf("DownloadFileWhileWaiting: failed (%d)\n", result);
    return -1;
  }
  return static_cast<double>(SizeOf(path)) / seconds.count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: curl_download_bench URL DESTINATION [ROUNDS]\n");
    return 2;
  }
  const std::string url = argv[1];
  const std::string path = argv[2];
  const int rounds = argc == 4 ? std::max(1, std::atoi(argv[3])) : 3;

  double best = 0;
  double bestCurl = 0;
  double bestCurlFlushed = 0;
  long long size = -1;
  int reports = 0;
  for (int round = 0; round < rounds; ++round) {
    double curlSeconds = 0;
    double flushSeconds = 0;
    bool curled = Curl(url, path, &curlSeconds, &flushSeconds);
    long long curlSize = SizeOf(path);
    std::remove(path.c_str());
    double ours = Ours(url, path, &reports);
    long long ourSize = SizeOf(path);
    std::remove(path.c_str());
    if (!curled || ours <= 0 || ourSize <= 0 || ourSize != curlSize) {
      std::printf("round %d: failed (curl %lld bytes, ours %lld bytes)\n", round, curlSize,
                  ourSize);
      return 1;
    }
    size = ourSize;
    bestCurl = std::max(bestCurl, static_cast<double>(curlSize) / curlSeconds);
    bestCurlFlushed =
        std::max(bestCurlFlushed, static_cast<double>(curlSize) / (curlSeconds + flushSeconds));
    best = std::max(best, ours);
  }
  constexpr double kMiB = 1024.0 * 1024.0;
  std::printf("%lld bytes, best of %d rounds\n", size, rounds);
  std::printf("curl %.1f MiB/s\n", bestCurl / kMiB);
  std::printf("curl+fsync %.1f MiB/s\n", bestCurlFlushed / kMiB);
  std::printf("DownloadFileWhileWaiting %.1f MiB/s %d progress calls\n", best / kMiB, reports);
  std::printf("ratio DownloadFileWhileWaiting/curl %.2f\n", best / bestCurl);
  std::printf("ratio DownloadFileWhileWaiting/curl+fsync %.2f\n", best / bestCurlFlushed);
  return 0;
}
