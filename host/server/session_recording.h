// A development-server session written down as a scenario file: every host control and
// endpoint call as a step, so that `hxa-host scenario FILE PLUGIN.so` replays it.
#pragma once

#include <rapidjson/document.h>

#include <mutex>
#include <string>

#include "host/core/maybe.h"

namespace Kavren::Host {

/// The scenario of one session. Thread-safe: the server's connection threads add steps
/// as their requests finish. The file is written whole after each step, so that it is a
/// complete scenario whenever the session ends.
class SessionRecording {
 public:
  explicit SessionRecording(std::string path) : path_(std::move(path)) {}

  /// Starts the scenario with the packet the plugin started with (null: none) and the
  /// steps run before serving (null: none), and writes it. Fails when the file cannot be
  /// written.
  [[nodiscard]] MaybeType<Failure> Begin(const rapidjson::Value* packet,
                                         const rapidjson::Value* steps);
  /// Adds the step {`step`: `argument`}, followed by "wait for jobs" (the jobs it may have
  /// started ran before the session's next request). The host's reads ("read ...") are
  /// left out: they change nothing.
  void Add(const char* step, const rapidjson::Value& argument);
  /// An endpoint call as a "call endpoint" step: its method, its path with the query, and
  /// a body that reads as JSON (or YAML, by its content type). Calls of other methods
  /// are not recorded, as a step cannot make them.
  void AddCall(const std::string& method, const std::string& path, const std::string& body,
               const std::string& contentType);
  /// The outcome of the last write.
  [[nodiscard]] MaybeType<Failure> LastWrite() const;

 private:
  void AddLocked(const char* step, const rapidjson::Value& argument);
  void Write();

  const std::string path_;
  // Guards the scenario and the outcome of the last write.
  mutable std::mutex mutex_;
  rapidjson::Document scenario_;
  MaybeType<Failure> written_;
};

}  // namespace Kavren::Host
