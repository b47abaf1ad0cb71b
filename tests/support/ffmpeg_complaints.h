#pragma once

#include <atomic>
#include <cstdarg>

extern "C" {
#include <libavutil/log.h>
}

namespace kestio::test {

// Counts FFmpeg's error lines while it lives (FFmpeg's log has one hook for the process; the
// default one is put back after).
class FfmpegComplaints {
  public:
    FfmpegComplaints() {
        count_ = 0;
        av_log_set_callback([](void*, int level, const char*, va_list) {
            if (level <= AV_LOG_ERROR) {
                ++count_;
            }
        });
    }
    ~FfmpegComplaints() { av_log_set_callback(av_log_default_callback); }
    FfmpegComplaints(const FfmpegComplaints&) = delete;
    FfmpegComplaints& operator=(const FfmpegComplaints&) = delete;

    int count() const { return count_; }
    void clear() { count_ = 0; }

  private:
    static inline std::atomic<int> count_{0};
};

}  // namespace kestio::test
