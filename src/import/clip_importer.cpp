#include "import/clip_importer.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>

#include "import/clip_facts.h"
#include "import/url_parts.h"
#include "model/localization_manager.h"
#include "model/project_manager.h"
#include "platform/graphics/frame_filter.h"
#include "platform/media/media_time.h"
#include "platform/runloop/console.h"

namespace kestio {

namespace media = platform::media;
using platform::Console;

namespace {

// A double in its shortest round-trip form, with ".0" when it is whole ("5.0", "2.5").
std::string shortestDouble(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (text.find_first_of(".en") == std::string::npos) {
        text += ".0";
    }
    return text;
}

// The time of a picture request: below 0 or unknown counts as 0, on the 1/600 s grid.
double requestTime(double seconds) {
    return media::MediaTime::seconds(std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0);
}

const media::TrackInfo* firstAudioTrack(const media::MediaInfo& info) {
    for (const auto& track : info.tracks) {
        if (track.kind == media::TrackKind::Audio) {
            return &track;
        }
    }
    return nullptr;
}

bool hasDecodableAudio(const media::MediaInfo& info) {
    return std::any_of(info.tracks.begin(), info.tracks.end(), [](const media::TrackInfo& t) {
        return t.kind == media::TrackKind::Audio && t.decodable;
    });
}

// The line of a sound file whose track is there but gives no sound.
void logNoDecodableSound(const std::filesystem::path& url) {
    Console::log("❌ importAudio 音声データなし（トラックはあるがデコードできる音がない）: " +
                 lastPathComponent(url));
}

// The reason shown for a failed probe: the media library's own text as it gave it, the
// importer's own reasons in the interface language.
std::string probeFailureReason(const std::string& error) {
    if (error == ImportBackend::kHoldsStillPicture) {
        return L("ファイルの中身は静止画で、クリップではありません",
                 "The file holds a still picture, not a clip");
    }
    return error;
}

// The reason shown for a still that could not be decoded, in the interface language, with the
// figures or the library's words the decoder gave.
std::string stillFailureReason(platform::StillProblem problem, const std::string& detail) {
    using P = platform::StillProblem;
    switch (problem) {
        case P::unreadableFile:
            return L("ファイルを読み込めません: ", "The file cannot be read: ") + detail;
        case P::emptyFile:
            return L("ファイルが空です", "The file is empty");
        case P::fileTooLarge:
            return L("ファイルが大きすぎます: ", "The file is too large: ") + detail +
                   L(" バイト", " bytes");
        case P::notAnImage:
            return L("ファイルの中身は画像ではありません", "The file does not hold a picture");
        case P::noPicture:
            return L("ファイルに画像が入っていません", "The file holds no picture");
        case P::truncated:
            return L(detail + "データが途中で切れています", "The " + detail + " data is cut short");
        case P::undecodable:
            return L("画像をデコードできません: ", "The picture cannot be decoded: ") + detail;
        case P::tooLarge:
            return L("画像が大きすぎます: ", "The picture is too large: ") + detail;
        case P::tooCostly:
            return L("画像のデコードに必要なメモリが上限を超えます: ",
                     "Decoding the picture would need more memory than allowed: ") +
                   detail;
        case P::sizeMismatch:
            return L("画像の宣言サイズと実際のサイズが一致しません: ",
                     "The picture's declared size is not its real size: ") +
                   detail;
        case P::outOfMemory:
            return L("画像のためのメモリが足りません",
                     "There is not enough memory for the picture");
        case P::none:
        case P::cancelled:  // import never stops a decode
            break;
    }
    return L("画像を読み込めません", "The picture cannot be read");
}

}  // namespace

ClipImporter::ClipImporter(platform::RunLoop& runLoop, const platform::BookmarkService& bookmarks,
                           ImportBackend backend, int workerThreads)
    : runLoop_(runLoop),
      bookmarks_(bookmarks),
      backend_(std::move(backend)),
      workers_(std::make_unique<ImportWorkers>(workerThreads)) {}

ClipImporter::ClipImporter(platform::RunLoop& runLoop)
    : ClipImporter(runLoop, platform::BookmarkService::standard()) {}

ClipImporter::~ClipImporter() = default;

template <typename T>
std::shared_ptr<JobControl> ClipImporter::offMain(std::function<T(JobControl&)> work,
                                                  std::function<void(T)> onMain) {
    std::weak_ptr<int> alive = alive_;
    platform::RunLoop* loop = &runLoop_;
    return workers_->submit([work = std::move(work), onMain = std::move(onMain), alive,
                             loop](JobControl& control) mutable {
        T result = work(control);
        loop->post([onMain = std::move(onMain), result = std::move(result), alive]() mutable {
            if (!alive.expired()) {
                onMain(std::move(result));
            }
        });
    });
}

void ClipImporter::answerLater(ImportCompletion done, ImportOutcome outcome) {
    std::weak_ptr<int> alive = alive_;
    runLoop_.post([done = std::move(done), outcome = std::move(outcome), alive]() mutable {
        if (!alive.expired()) {
            done(std::move(outcome));
        }
    });
}

ClipImporter::Access ClipImporter::openAccess(const platform::BookmarkService& bookmarks,
                                              const std::filesystem::path& url) {
    Access access;
    access.scoped = bookmarks.startAccessingSecurityScopedResource(url);
    try {
        access.bookmark = bookmarks.bookmarkData(url, platform::BookmarkOption::withSecurityScope);
    } catch (const std::exception&) {
        access.bookmark.reset();
    }
    return access;
}

// ---- video probe ---------------------------------------------------------------------------

void ClipImporter::importMeta(const std::filesystem::path& url, double time,
                              ImportCompletion done) {
    if (ProjectManager::mediaType(url) != MediaType::video) {
        importFile(url, time, std::move(done));
        return;
    }
    probeVideo(url, time, std::move(done));
}

void ClipImporter::probeVideo(const std::filesystem::path& url, double time,
                              ImportCompletion done) {
    const std::string fileName = lastPathComponent(url);
    Console::log("🔍 importMeta 開始: " + fileName + " ext=" + pathExtension(url));

    struct Opened {
        Access access;
        media::Loaded<ProbedMedia> probe;
    };
    const platform::BookmarkService* bookmarks = &bookmarks_;
    offMain<Opened>(
        [bookmarks, url, probe = backend_.probe](JobControl& control) {
            Access access = openAccess(*bookmarks, url);
            return Opened{std::move(access), probe(url, control)};
        },
        [this, url, time, fileName, done = std::move(done)](Opened opened) {
            auto finish = [this, url, scoped = opened.access.scoped, done](ImportOutcome outcome) {
                if (scoped) {
                    bookmarks_.stopAccessingSecurityScopedResource(url);
                }
                done(std::move(outcome));
            };
            if (!opened.probe) {
                Console::log("❌ importMeta 失敗: " + fileName);
                Console::log("   エラー: " + opened.probe.error());
                Console::log("   URL: " + url.string());
                finish(ImportError::loadFailed(url, probeFailureReason(opened.probe.error())));
                return;
            }
            const media::MediaInfo& info = opened.probe->info;
            std::string ids;
            for (const auto& track : info.tracks) {
                ids += (ids.empty() ? "" : ",") + track.mediaType;
            }
            char duration[64];
            std::snprintf(duration, sizeof duration, "%.1f", saneMeasure(info.duration));
            Console::log(std::string("📋 importMeta: duration=") + duration +
                         "s tracks=" + std::to_string(info.tracks.size()) + " [" + ids + "]");
            if (!info.isPlayable) {
                Console::log("❌ importMeta: isPlayable=false（再生不可）: " + fileName);
                finish(ImportError::notPlayable(url));
                return;
            }
            ImportResult result;
            result.url = url;
            result.bookmark = std::move(opened.access.bookmark);
            result.mediaType = MediaType::video;
            result.clipInfo = videoClipInfo(info, opened.probe->modifiedAt);
            result.name = nameWithoutExtension(url);
            verifyRenderablePipeline(
                url, time, kRenderCheckTimeout,
                [url, fileName, finish, result = std::move(result)](bool renders) mutable {
                    if (!renders) {
                        Console::log(
                            "❌ importMeta: 映像コンポジション経由のレンダリング検証に失敗: " +
                            fileName);
                        finish(ImportError::notPlayable(url));
                        return;
                    }
                    finish(std::move(result));
                });
        });
}

// ---- render check --------------------------------------------------------------------------

void ClipImporter::verifyRenderablePipeline(const std::filesystem::path& asset, double atSeconds,
                                            double timeout, std::function<void(bool)> done) {
    // The first of the time-out and the render path answers; the other finds `finished` set.
    // Both run on the main thread.
    struct Check {
        bool finished = false;
        platform::TimerHandle timer;
        std::shared_ptr<JobControl> job;
        std::function<void(bool)> done;
    };
    auto check = std::make_shared<Check>();
    check->done = std::move(done);
    auto answer = [check](bool renders) {
        if (check->finished) {
            return;
        }
        check->finished = true;
        check->timer.cancel();
        auto deliver = std::move(check->done);
        check->done = nullptr;
        if (deliver) {
            deliver(renders);
        }
    };

    std::weak_ptr<int> alive = alive_;
    check->timer = runLoop_.after(timeout, [alive, check, answer, timeout] {
        if (alive.expired() || check->finished) {
            return;
        }
        Console::log("⚠️ verifyRenderablePipeline: タイムアウト（" +
                     shortestDouble(timeout) + "秒）");
        // The late answer would be ignored anyway: give the worker back.
        if (check->job) {
            check->job->cancel();
        }
        answer(false);
    });

    // The picture takes the path of playback's pictures: decoded, converted, and handed
    // through a per-frame step that passes it on unchanged.
    const double t = requestTime(atSeconds);
    check->job = offMain<bool>(
        [grab = backend_.grabFrame, asset, t](JobControl& control) {
            auto picture = grab(asset, t, kFrameToleranceAfter, QSize(), control);
            if (!picture || picture->isNull()) {
                return false;
            }
            const platform::FrameFilter passThrough = [](const QImage& image) { return image; };
            return !passThrough(*picture).isNull();
        },
        answer);
}

// ---- stills and sound ----------------------------------------------------------------------

void ClipImporter::importFile(const std::filesystem::path& url, std::optional<double> time,
                              ImportCompletion done) {
    const std::optional<MediaType> kind = ProjectManager::mediaType(url);
    if (!kind) {
        answerLater(std::move(done), ImportError::unsupportedFormat(url));
        return;
    }
    if (*kind == MediaType::video) {
        probeVideo(url, time.value_or(0.0), std::move(done));
        return;
    }
    const platform::BookmarkService* bookmarks = &bookmarks_;
    offMain<Access>(
        [bookmarks, url](JobControl&) { return openAccess(*bookmarks, url); },
        [this, url, kind = *kind, done = std::move(done)](Access access) {
            // The scope stays open until the import has answered, its thumbnail and
            // waveform included.
            auto finish = [this, url, scoped = access.scoped, done](ImportOutcome outcome) {
                if (scoped) {
                    bookmarks_.stopAccessingSecurityScopedResource(url);
                }
                done(std::move(outcome));
            };
            std::string name = nameWithoutExtension(url);
            if (kind == MediaType::still) {
                importStill(url, std::move(access.bookmark), std::move(name), std::move(finish));
            } else {
                importAudio(url, std::move(access.bookmark), std::move(name), std::move(finish));
            }
        });
}

void ClipImporter::importStill(const std::filesystem::path& url, std::optional<Bytes> bookmark,
                               std::string name, ImportCompletion done) {
    struct Decoded {
        bool ok = false;
        int width = 0;
        int height = 0;
        std::optional<Bytes> thumbnail;
        platform::StillProblem problem = platform::StillProblem::none;
        std::string detail;
    };
    offMain<Decoded>(
        [decode = backend_.decodeStill, url](JobControl&) {
            // Only a thumbnail is made here: a large photo is decoded at a few times its
            // size (memory for that, not for the photo), and the thumbnail made from that.
            // The facts give the picture's own size. Display falls back to this size, so a
            // still that decodes here can be shown.
            static_assert(platform::kStillCheckSide >= kThumbnailMaxSide);
            const int decodeSide = platform::kStillCheckSide;
            const platform::DecodedStill still = decode(url, QSize(decodeSide, decodeSide));
            if (!still.ok()) {
                return Decoded{false, 0, 0, std::nullopt, still.problem, still.detail};
            }
            return Decoded{true,
                           still.fullSize.width(),
                           still.fullSize.height(),
                           pngData(scaledThumbnail(still.image, kThumbnailMaxSide)),
                           platform::StillProblem::none,
                           {}};
        },
        [url, bookmark = std::move(bookmark), name = std::move(name),
         done = std::move(done)](Decoded decoded) mutable {
            if (!decoded.ok) {
                // Worded here, on the main thread, where the interface language is read.
                const std::string reason = stillFailureReason(decoded.problem, decoded.detail);
                Console::log("❌ importStill 失敗: " + lastPathComponent(url));
                Console::log("   エラー: " + reason);
                done(ImportError::loadFailed(url, reason));
                return;
            }
            ImportResult result;
            result.url = url;
            result.bookmark = std::move(bookmark);
            result.mediaType = MediaType::still;
            result.clipInfo = stillClipInfo(decoded.width, decoded.height);
            result.thumbnail = std::move(decoded.thumbnail);
            result.name = std::move(name);
            done(std::move(result));
        });
}

void ClipImporter::importAudio(const std::filesystem::path& url, std::optional<Bytes> bookmark,
                               std::string name, ImportCompletion done) {
    offMain<media::Loaded<ProbedMedia>>(
        [probe = backend_.probe, url](JobControl& control) { return probe(url, control); },
        [this, url, bookmark = std::move(bookmark), name = std::move(name),
         done = std::move(done)](media::Loaded<ProbedMedia> probed) mutable {
            // A length that cannot be known is a length that could not be read.
            if (!probed || !std::isfinite(probed->info.duration)) {
                Console::log("❌ importAudio duration取得失敗: " + lastPathComponent(url));
                done(ImportError::loadFailed(url));
                return;
            }
            const media::MediaInfo& info = probed->info;
            // A sound that cannot be decoded would import as a slot that plays nothing.
            if (firstAudioTrack(info) == nullptr) {
                Console::log("❌ importAudio audioTrack取得失敗: " + lastPathComponent(url));
                done(ImportError::loadFailed(url));
                return;
            }
            if (!hasDecodableAudio(info)) {
                logNoDecodableSound(url);
                done(ImportError::loadFailed(url));
                return;
            }
            ImportResult result;
            result.url = url;
            result.bookmark = std::move(bookmark);
            result.mediaType = MediaType::audio;
            result.clipInfo = audioClipInfo(info.duration, firstAudioTrack(info));
            result.name = std::move(name);
            offMain<WaveformReading>(
                [read = backend_.readWaveform, url](JobControl& control) {
                    return read(url, kAudioWaveformPoints, control);
                },
                [url, result = std::move(result),
                 done = std::move(done)](WaveformReading reading) mutable {
                    // A header without any sound behind it (a stub, a file cut short) would
                    // import as a slot that plays nothing.
                    if (reading.framesDecoded == 0) {
                        logNoDecodableSound(url);
                        done(ImportError::loadFailed(url));
                        return;
                    }
                    result.waveformData = std::move(reading.points);
                    result.thumbnail = audioPlaceholderThumbnail();
                    done(std::move(result));
                });
        });
}

// ---- slot assignment -----------------------------------------------------------------------

ClipImporter::SlotAssignments ClipImporter::filterSupported(
    const std::vector<std::filesystem::path>& urls, const ProjectData& project, int bank,
    int slot) {
    SlotAssignments out;
    const std::int64_t perBank =
        project.rows > 0 && project.columns > 0 ? project.rows * project.columns : 0;
    const std::int64_t total = perBank * static_cast<std::int64_t>(project.banks.size());
    std::int64_t cursor = std::max<std::int64_t>(
        0, static_cast<std::int64_t>(bank) * perBank + static_cast<std::int64_t>(slot));
    auto isEmpty = [&](std::int64_t g) {
        const auto& slots = project.banks[static_cast<std::size_t>(g / perBank)].slots;
        const auto index = static_cast<std::size_t>(g % perBank);
        return index < slots.size() && !slots[index].videoURL.has_value();
    };
    for (const auto& url : urls) {
        if (!ProjectManager::mediaType(url)) {
            out.rejected.push_back(url);
            continue;
        }
        std::int64_t found = -1;
        for (std::int64_t g = cursor; g < total; ++g) {
            if (isEmpty(g)) {
                found = g;
                break;
            }
        }
        if (found < 0) {
            out.rejected.push_back(url);
            cursor = total;
            continue;
        }
        out.assignments.push_back(
            {url, static_cast<int>(found / perBank), static_cast<int>(found % perBank)});
        cursor = found + 1;
    }
    return out;
}

// ---- waveform and pictures -----------------------------------------------------------------

void ClipImporter::generateWaveform(const std::filesystem::path& url, int pointCount,
                                    std::function<void(std::optional<Waveform>)> done) {
    offMain<std::optional<Waveform>>(
        [read = backend_.readWaveform, url, pointCount](JobControl& control) {
            return read(url, pointCount, control).points;
        },
        std::move(done));
}

QImage ClipImporter::scaledThumbnail(const QImage& image, int maxSide) {
    const int w = image.width();
    const int h = image.height();
    if (image.isNull() || w <= 0 || h <= 0 || maxSide <= 0) {
        return image;
    }
    const double scale =
        std::min({static_cast<double>(maxSide) / w, static_cast<double>(maxSide) / h, 1.0});
    // Truncated, but never to nothing: a thin panorama keeps a line of pixels.
    const int newWidth = std::max(1, static_cast<int>(scale * w));
    const int newHeight = std::max(1, static_cast<int>(scale * h));
    QImage scaled =
        newWidth == w && newHeight == h
            ? image
            : image.scaled(newWidth, newHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull()) {
        return image;
    }
    QImage converted = scaled.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    return converted.isNull() ? image : converted;
}

std::optional<ClipImporter::Bytes> ClipImporter::audioPlaceholderThumbnail() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return std::nullopt;
    }
    QImage image(kPlaceholderWidth, kPlaceholderHeight, QImage::Format_RGB32);
    if (image.isNull()) {
        return std::nullopt;
    }
    image.fill(QColor::fromRgbF(0.15f, 0.15f, 0.15f));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        QFont font = QGuiApplication::font();
        font.setPixelSize(72);
        painter.setFont(font);
        painter.setPen(QColor::fromRgbF(0.5f, 0.5f, 0.5f));
        const QString glyph(QChar(0x266A));
        const QFontMetricsF metrics(font, &image);
        const double glyphWidth = metrics.horizontalAdvance(glyph);
        const double glyphHeight = metrics.height();
        const double x = (kPlaceholderWidth - glyphWidth) / 2.0;
        const double y = (kPlaceholderHeight - glyphHeight) / 2.0;
        painter.drawText(QPointF(x, y + metrics.ascent()), glyph);
    }
    return pngData(image);
}

void ClipImporter::videoThumbnail(const std::filesystem::path& asset, double seconds,
                                  std::function<void(std::optional<Bytes>)> done) {
    const double t = requestTime(seconds);
    offMain<std::optional<Bytes>>(
        [grab = backend_.grabFrame, asset, t](JobControl& control) -> std::optional<Bytes> {
            const auto picture = grab(asset, t, kFrameToleranceAfter,
                                      QSize(kThumbnailMaxSide, kThumbnailMaxSide), control);
            if (!picture) {
                return std::nullopt;
            }
            return pngData(*picture);
        },
        std::move(done));
}

void ClipImporter::regeneratePreview(const std::filesystem::path& url, double time,
                                     std::function<void(Preview)> done) {
    struct Join {
        Preview preview;
        int remaining = 2;
        std::function<void(Preview)> done;
        void oneDone() {
            if (--remaining == 0) {
                done(std::move(preview));
            }
        }
    };
    auto join = std::make_shared<Join>();
    join->done = std::move(done);
    videoThumbnail(url, time, [join](std::optional<Bytes> thumbnail) {
        join->preview.thumbnail = std::move(thumbnail);
        join->oneDone();
    });
    generateWaveform(url, kPreviewWaveformPoints, [join](std::optional<Waveform> waveform) {
        join->preview.waveform = std::move(waveform);
        join->oneDone();
    });
}

std::optional<ClipImporter::Bytes> ClipImporter::pngData(const QImage& image) {
    if (image.isNull()) {
        return std::nullopt;
    }
    QByteArray encoded;
    QBuffer buffer(&encoded);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        return std::nullopt;
    }
    return Bytes(encoded.begin(), encoded.end());
}

}  // namespace kestio
