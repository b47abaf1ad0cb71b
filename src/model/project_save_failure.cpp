#include "model/project_save_failure.h"

#include <cerrno>

#include "model/project_manager.h"

namespace kestio {

namespace fs = std::filesystem;

namespace {

enum class Cause { diskFull, noPermission, readOnly, inTheWay, link, other };

Cause causeOf(std::error_code code) {
    if (code == std::errc::no_space_on_device || code == std::errc::file_too_large ||
        code.value() == EDQUOT) {
        return Cause::diskFull;
    }
    if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted) {
        return Cause::noPermission;
    }
    if (code == std::errc::read_only_file_system) {
        return Cause::readOnly;
    }
    if (code == std::errc::too_many_symbolic_link_levels) {
        return Cause::link;
    }
    if (code == std::errc::not_a_directory || code == std::errc::file_exists ||
        code == std::errc::is_a_directory) {
        return Cause::inTheWay;
    }
    return Cause::other;
}

std::string reasonText(Cause cause, bool english) {
    switch (cause) {
        case Cause::diskFull:
            return english ? "The disk is full." : "ディスクの空き容量が足りません。";
        case Cause::noPermission:
            return english ? "Kestio is not allowed to write here. Check the access permissions."
                           : "この場所に書き込む権限がありません。アクセス権を確認してください。";
        case Cause::readOnly:
            return english ? "The disk is read-only." : "ディスクが読み取り専用です。";
        case Cause::inTheWay:
            return english ? "A file or folder of the same name is in the way."
                           : "同じ名前のファイルまたはフォルダが邪魔をしています。";
        case Cause::link:
            return english ? "This name is a link to another folder: Kestio saves a show only into "
                             "a package folder itself. Save it with Save As."
                           : "この名前は別のフォルダへのリンクです。Kestio はパッケージのフォルダ"
                             "そのものにだけ保存します。「名前を付けて保存」で保存してください。";
        case Cause::other:
            break;
    }
    return english ? "The disk could not be written." : "ディスクに書き込めませんでした。";
}

}  // namespace

std::string projectSaveFailureText(const fs::path& package, const std::exception& error,
                                   AppLanguage language) {
    const auto* fileError = dynamic_cast<const fs::filesystem_error*>(&error);
    const std::error_code code = fileError ? fileError->code() : std::error_code();
    const bool english = language == AppLanguage::en;
    return package.string() + "\n" +
           (english ? "The project was not saved. " : "プロジェクトは保存されていません。") +
           reasonText(causeOf(code), english);
}

std::string picturesNotSavedText(const fs::path& package, std::error_code error,
                                 AppLanguage language) {
    const bool english = language == AppLanguage::en;
    const fs::path folder = package / ProjectManager::kThumbnailsFolderName;
    return folder.string() + "\n" +
           (english ? "The project was saved, but the slot pictures were not: they are missing "
                      "until a later save can write them. "
                    : "プロジェクトは保存されましたが、スロットのサムネイルは保存されていません。"
                      "書き込めるようになった次の保存まで表示されません。") +
           reasonText(causeOf(error), english);
}

}  // namespace kestio
