// Helpers for tests that run against the builtin ATMI domain: an owner for
// typed buffers, and a client thread (every thread is an ATMI context of its
// own, with its own session, transaction and tperrno).
//
//   Tx::AtmiBuiltin::TpBuffer reply("FML32", 0);
//   tpcall((char*)"ECHO", request.get(), 0, reply.out(), &len, 0);
//   Tx::AtmiBuiltin::ClientThread other;
//   other.Run([] { return tpinit(nullptr); });
#pragma once

#include <atmi.h>
#include <fml32.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace Tx::AtmiBuiltin {

// Owns one typed buffer and frees it with tpfree. out() is the address that
// tpcall and tpgetrply may replace the buffer through.
class TpBuffer {
 public:
  TpBuffer() = default;
  explicit TpBuffer(char* data) noexcept : data_(data) {}
  // tpalloc(type, NULL, size); empty when that fails (tperrno tells why).
  TpBuffer(const char* type, long size) noexcept
      : data_(tpalloc(const_cast<char*>(type), nullptr, size)) {}
  TpBuffer(TpBuffer&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
  TpBuffer& operator=(TpBuffer&& other) noexcept {
    if (this != &other) reset(std::exchange(other.data_, nullptr));
    return *this;
  }
  TpBuffer(const TpBuffer&) = delete;
  TpBuffer& operator=(const TpBuffer&) = delete;
  ~TpBuffer() { reset(); }

  char* get() const noexcept { return data_; }
  FBFR32* fbfr() const noexcept { return reinterpret_cast<FBFR32*>(data_); }
  char** out() noexcept { return &data_; }
  explicit operator bool() const noexcept { return data_ != nullptr; }
  char* release() noexcept { return std::exchange(data_, nullptr); }
  void reset(char* data = nullptr) noexcept {
    if (data_ != nullptr) tpfree(data_);
    data_ = data;
  }

 private:
  char* data_ = nullptr;
};

// A thread that runs the tasks it is given, one at a time, in its own ATMI
// context. Run waits for the task and returns its result (or rethrows its
// exception). The destructor finishes and joins the thread; the thread's
// session ends with it.
class ClientThread {
 public:
  ClientThread() : thread_([this] { Loop(); }) {}
  ~ClientThread() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  ClientThread(const ClientThread&) = delete;
  ClientThread& operator=(const ClientThread&) = delete;

  template <class Task>
  std::invoke_result_t<Task&> Run(Task&& task) {
    std::packaged_task<std::invoke_result_t<Task&>()> job(std::forward<Task>(task));
    auto result = job.get_future();
    {
      std::lock_guard lock(mutex_);
      tasks_.emplace_back([&job] { job(); });
    }
    wake_.notify_one();
    return result.get();
  }

 private:
  void Loop() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;  // last: started once the members above exist
};

}  // namespace Tx::AtmiBuiltin
