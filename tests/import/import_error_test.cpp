#include "import/import_error.h"

#include <gtest/gtest.h>

namespace kestio {
namespace {

// The operator-facing texts, byte for byte (one line each, as the operator reads them).
const std::string kMxfHint =
    "(macOS標準の再生機能ではこのMXFファイルの中身の形式を読み込めません。Compressor/DaVinci "
    "Resolve/ffmpeg等でProRes等の.movに変換してから読み込んでください)";
const std::string kCodecHint =
    "(コンテナ情報は読み取れましたが、映像コーデック／プロファイルがmacOSの再生機能に対応していませ"
    "ん。Compressor/DaVinci "
    "Resolve/ffmpeg等でH.264等の対応コーデックに変換してから読み込んでください)";

TEST(ImportErrorMessage, UnsupportedNamesTheFileWithItsExtension) {
    EXPECT_EQ(ImportError::unsupportedFormat("/shows/notes/setlist.txt").message(),
              "非対応の形式です: setlist.txt");
}

TEST(ImportErrorMessage, LoadFailedShowsTheReasonInParenthesesOnItsOwnLine) {
    EXPECT_EQ(ImportError::loadFailed("/m/clip.mp4", "Invalid data found when processing input")
                  .message(),
              "読み込みに失敗しました: clip.mp4\n(Invalid data found when processing input)");
}

TEST(ImportErrorMessage, LoadFailedWithoutReasonOrWithAnEmptyOneIsTheHeadingAlone) {
    const std::string bare = "読み込みに失敗しました: clip.mp4";
    EXPECT_EQ(ImportError::loadFailed("/m/clip.mp4").message(), bare);
    EXPECT_EQ(ImportError::loadFailed("/m/clip.mp4", "").message(), bare);
}

TEST(ImportErrorMessage, MxfGetsTheConversionHintInsteadOfTheReasonInAnyLetterCase) {
    const std::string expected = "読み込みに失敗しました: Camera A.MXF\n\n" + kMxfHint;
    EXPECT_EQ(ImportError::loadFailed("/m/Camera A.MXF", "Invalid data").message(), expected);
    EXPECT_EQ(ImportError::loadFailed("/m/b.mxf").message(),
              "読み込みに失敗しました: b.mxf\n\n" + kMxfHint);
}

TEST(ImportErrorMessage, NotPlayableAlwaysCarriesTheCodecHintEvenForMxf) {
    EXPECT_EQ(ImportError::notPlayable("/m/a.mov").message(),
              "再生できない形式です: a.mov\n" + kCodecHint);
    EXPECT_EQ(ImportError::notPlayable("/m/a.mxf").message(),
              "再生できない形式です: a.mxf\n" + kCodecHint);
}

TEST(ImportErrorMessage, FileNamesWithoutExtensionOrWithSeveralDotsAreShownWhole) {
    EXPECT_EQ(ImportError::unsupportedFormat("/m/README").message(), "非対応の形式です: README");
    EXPECT_EQ(ImportError::loadFailed("/m/take.2.final.mov").message(),
              "読み込みに失敗しました: take.2.final.mov");
}

TEST(ImportErrorMessage, HintsEndWithTheirParenthesis) {
    EXPECT_EQ(kMxfHint.back(), ')');
    EXPECT_EQ(std::string(ImportError::kMxfHint), kMxfHint);
    EXPECT_EQ(std::string(ImportError::kCodecHint), kCodecHint);
}

TEST(ImportErrorDescription, NamesTheCaseThePathAndTheReason) {
    EXPECT_EQ(ImportError::loadFailed("/p/x.mxf").description(),
              "loadFailed(/p/x.mxf, reason: nil)");
    EXPECT_EQ(ImportError::loadFailed("/p/x.mp4", "Broken").description(),
              "loadFailed(/p/x.mp4, reason: \"Broken\")");
    EXPECT_EQ(ImportError::notPlayable("/p/y.mov").description(), "notPlayable(/p/y.mov)");
    EXPECT_EQ(ImportError::unsupportedFormat("/p/z.txt").description(),
              "unsupportedFormat(/p/z.txt)");
}

TEST(ImportErrorEquality, ComparesCaseUrlAndReason) {
    EXPECT_EQ(ImportError::loadFailed("/a.mp4", "r"), ImportError::loadFailed("/a.mp4", "r"));
    EXPECT_NE(ImportError::loadFailed("/a.mp4", "r"), ImportError::loadFailed("/a.mp4"));
    EXPECT_NE(ImportError::notPlayable("/a.mp4"), ImportError::unsupportedFormat("/a.mp4"));
}

}  // namespace
}  // namespace kestio
