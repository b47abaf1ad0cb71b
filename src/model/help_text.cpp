#include "model/help_text.h"

namespace kestio {

namespace {

// Both texts are shown unchanged in a monospaced font: columns, blank lines and the final
// line feed are part of them. Each ends with a section in the other language, so that a user
// who cannot read the current one still finds how to switch.

constexpr std::string_view kJapaneseHelp = R"KT(Kestio  Help

-- プロジェクトの始め方 --
1. File Save でプロジェクトを作成 (.ktshow パッケージ)
2. スロットに動画/静止画/音声をドロップして読み込み
3. キーボードショートカットまたはボタンで再生

-- 対応ファイル形式 --
動画  : MP4, MOV, M4V, MXF, M2TS, MTS, TS, MPG, MPEG, DV, 3GP
        ※MXF/M2TS・MTS・TS/MPG・MPEG/DVは、内部の映像コーデックが
          このシステムのFFmpegデコーダーに対応している場合のみ
          読み込み可能です（FFmpegで再生できないファイルは
          このアプリでも読み込めません）。対応していないファイルは
          取り込み時に自動的に検出して弾かれます。
        ※AVI, MKV, WMV, WebM, FLVはこのアプリが取り込むコンテナに
          含まれていないため非対応です。
静止画: PNG, JPG, JPEG, TIFF, HEIC, HEIF, BMP, GIF, WebP
音声  : WAV, MP3, AIFF, M4A, CAF, FLAC
        ※OGG, OPUS, WMAはこのアプリが取り込む形式に含まれていないため
          非対応です。

-- キーボードショートカット --

スロット再生:
  1~0            行1  slot  0~ 9
  Q~P            行2  slot 10~19
  A~;            行3  slot 20~29
  Z~/            行4  slot 30~39

再生制御:
  Space          Cut Go (次のスロットへ移動して再生、空なら黒)
  Shift+Space    一時停止
  Enter          カーソル位置を再生
  Shift+Enter    Stand by at First Frame
  ※再生制御のキーはメニューバー「Kestio > キーバインド設定...」
    (Ctrl+Shift+,) から変更可能。スロットキーと矢印キーは固定。

カーソル移動:
  Arrow Keys     グリッドカーソル移動

BANKジャンプ:
  Ctrl+1~0       BANK  1~10
  Ctrl+Alt+1~0   BANK 11~20

ファイル操作:
  Ctrl+S         プロジェクト保存

MIDI:
  MIDI Learn で外部機器のNote/CCをスロットや操作ボタンに割り当て可能
  MIDI出力アサイン（右クリックメニュー）で、スロット再生時に
  外部機器（照明卓等）へNote送信も可能

Language:
  Switch between Japanese and English from the "Language" menu
  in the menu bar.
)KT";

constexpr std::string_view kEnglishHelp = R"KT(Kestio  Help

-- Getting Started --
1. Use File Save to create a project (.ktshow package)
2. Drop video/still/audio files onto slots to load them
3. Play back using keyboard shortcuts or buttons

-- Supported File Formats --
Video : MP4, MOV, M4V, MXF, M2TS, MTS, TS, MPG, MPEG, DV, 3GP
        *MXF / M2TS, MTS, TS / MPG, MPEG / DV can only be loaded if
         the video codec inside is supported by this system's
         FFmpeg decoders. If a given file won't play with
         FFmpeg, this app won't be able to load it either.
         Unsupported files are automatically detected and rejected
         at import time.
        *AVI, MKV, WMV, WebM, and FLV are not supported because
         they are not among the containers this app imports.
Still : PNG, JPG, JPEG, TIFF, HEIC, HEIF, BMP, GIF, WebP
Audio : WAV, MP3, AIFF, M4A, CAF, FLAC
        *OGG, OPUS, and WMA are not supported because they are
         not among the formats this app imports.

-- Keyboard Shortcuts --

Slot Playback:
  1-0            Row 1  slots  0- 9
  Q-P            Row 2  slots 10-19
  A-;            Row 3  slots 20-29
  Z-/            Row 4  slots 30-39

Playback Control:
  Space          Cut Go (advance to next slot and play; black if empty)
  Shift+Space    Pause
  Enter          Play the slot at the cursor
  Shift+Enter    Stand by at First Frame
  *Playback control keys can be customized from the menu bar:
   "Kestio > Key Bindings..." (Ctrl+Shift+,).
   Slot keys and arrow keys are fixed.

Cursor Movement:
  Arrow Keys     Move the grid cursor

BANK Jump:
  Ctrl+1-0       BANK  1-10
  Ctrl+Alt+1-0   BANK 11-20

File Operations:
  Ctrl+S         Save project

MIDI:
  Use MIDI Learn to map an external device's Note/CC to a slot or
  control button.
  Use "MIDI Output Assign" (right-click menu) to send a Note to an
  external device (e.g. a lighting console) when a slot plays.

言語切替:
  メニューバー「Language」から日本語/Englishを切り替えられます。
)KT";

}  // namespace

std::string_view helpText(AppLanguage language) {
    return language == AppLanguage::en ? kEnglishHelp : kJapaneseHelp;
}

}  // namespace kestio
