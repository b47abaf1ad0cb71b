#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kestio {

// Why a media file cannot be brought into a slot. Import operations never throw: they hand
// back this value instead of an ImportResult.
class ImportError {
  public:
    enum class Kind {
        unsupportedFormat,  // the extension names no clip kind
        loadFailed,         // the media, or a fact of it, could not be read
        notPlayable,        // it was read, but no picture can be played from it
    };

    static ImportError unsupportedFormat(std::filesystem::path url);
    // `reason` is the media library's explanation, when it gave one.
    static ImportError loadFailed(std::filesystem::path url,
                                  std::optional<std::string> reason = std::nullopt);
    static ImportError notPlayable(std::filesystem::path url);

    Kind kind() const { return kind_; }
    const std::filesystem::path& url() const { return url_; }
    const std::optional<std::string>& reason() const { return reason_; }

    // The text shown to the operator: Japanese only, whatever the interface language.
    std::string message() const;
    // A one-line form for logs: "loadFailed(/path/x.mxf, reason: nil)".
    std::string description() const;

    bool operator==(const ImportError&) const = default;

    static constexpr const char* kMxfHint =
        "(macOS標準の再生機能ではこのMXFファイルの中身の形式を読み込めません。"
        "Compressor/DaVinci Resolve/ffmpeg等でProRes等の.movに変換してから読み込んでください)";
    static constexpr const char* kCodecHint =
        "(コンテナ情報は読み取れましたが、映像コーデック／プロファイルがmacOSの再生機能に対応"
        "していません。Compressor/DaVinci Resolve/ffmpeg等でH.264等の対応コーデックに変換して"
        "から読み込んでください)";

  private:
    ImportError(Kind kind, std::filesystem::path url, std::optional<std::string> reason)
        : kind_(kind), url_(std::move(url)), reason_(std::move(reason)) {}

    Kind kind_;
    std::filesystem::path url_;
    std::optional<std::string> reason_;
};

}  // namespace kestio
