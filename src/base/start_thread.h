// Threads started where no exception may leave: the system's refusal to
// start one is an answer, not a throw.
#pragma once

#include <system_error>
#include <thread>
#include <utility>

// Starts fn on a thread of its own; false when no thread can be had.
template <class Fn>
bool StartThread(std::thread* thread, Fn fn) {
  try {
    *thread = std::thread(std::move(fn));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}
