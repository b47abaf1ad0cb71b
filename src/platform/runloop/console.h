#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestio::platform {

// Diagnostic lines for the developer (standard output). Tests install a capture to read
// them. Lines are whole: one call, one line.
class Console {
  public:
    using Sink = std::function<void(std::string_view line)>;

    static void log(std::string_view line);

    // Replaces the sink for the life of the object (then restores the previous one).
    class Capture {
      public:
        Capture();
        ~Capture();
        Capture(const Capture&) = delete;
        Capture& operator=(const Capture&) = delete;
        // Read only while no other thread may log.
        const std::vector<std::string>& lines() const { return *lines_; }
        // Safe while other threads log.
        bool contains(std::string_view fragment) const;
        void clear() { lines_->clear(); }

      private:
        std::shared_ptr<std::vector<std::string>> lines_;
        Sink previous_;
    };

  private:
    static Sink exchangeSink(Sink sink);
};

}  // namespace kestio::platform
