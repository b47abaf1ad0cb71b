#include "model/project_load_failure.h"

#include <system_error>

#include "model/model_coding_error.h"
#include "model/project_manager.h"

namespace kestio {

namespace fs = std::filesystem;

namespace {

enum class Cause { missing, notAPackage, noPermission, damaged, unreadable };

Cause causeOf(const fs::path& package, const std::exception& error) {
    const auto* fileError = dynamic_cast<const fs::filesystem_error*>(&error);
    if (fileError && fileError->code() == std::errc::permission_denied) {
        return Cause::noPermission;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(package, ec);
    if (status.type() == fs::file_type::not_found) {
        return Cause::missing;
    }
    if (ec) {
        return ec == std::errc::permission_denied ? Cause::noPermission : Cause::unreadable;
    }
    if (!fs::is_directory(status)) {
        return Cause::notAPackage;
    }
    const fs::file_status document = fs::status(package / ProjectManager::kDataFileName, ec);
    if (document.type() == fs::file_type::not_found || fs::is_directory(document)) {
        return Cause::notAPackage;
    }
    return fileError ? Cause::unreadable : Cause::damaged;
}

}  // namespace

std::string projectLoadFailureText(const fs::path& package, const std::exception& error,
                                   AppLanguage language) {
    const bool english = language == AppLanguage::en;
    std::string reason;
    switch (causeOf(package, error)) {
        case Cause::missing:
            reason = english ? "Nothing is at this location: the project may have been moved, "
                               "renamed or deleted, or its drive is not connected."
                             : "この場所には何もありません。プロジェクトが移動・名前変更・削除"
                               "されたか、ドライブが接続されていない可能性があります。";
            break;
        case Cause::notAPackage:
            reason = english ? "This is not a Kestio project package (a .ktshow folder holding "
                               "data.json)."
                             : "Kestio のプロジェクトパッケージ（data.json を含む .ktshow "
                               "フォルダ）ではありません。";
            break;
        case Cause::noPermission:
            reason = english ? "Kestio is not allowed to read this project. Check its access "
                               "permissions."
                             : "このプロジェクトを読み込む権限がありません。アクセス権を確認して"
                               "ください。";
            break;
        case Cause::damaged:
            reason = english ? "The project file data.json is damaged or not in Kestio's format."
                             : "プロジェクトファイル data.json が壊れているか、Kestio の形式では"
                               "ありません。";
            // Where: the place in the text where it stops being JSON, or, when the text is
            // JSON, the member of the document's structure at fault.
            if (const auto* coding = dynamic_cast<const ModelCodingError*>(&error)) {
                if (const auto& place = coding->place()) {
                    const std::string line = std::to_string(place->line);
                    const std::string column = std::to_string(place->column);
                    reason += english ? "\nThe text breaks off or goes wrong at line " + line +
                                            ", column " + column + "."
                                      : "\n" + line + " 行目、" + column +
                                            " 列目で内容が途切れているか、誤りがあります。";
                }
                if (!coding->keyPath().empty()) {
                    reason += (english ? "\nThe member at fault: " : "\n問題のある項目: ") +
                              coding->keyPath();
                }
            }
            break;
        case Cause::unreadable:
            reason = english ? "The project could not be read from the disk."
                             : "プロジェクトをディスクから読み込めませんでした。";
            break;
    }
    return package.string() + "\n" + reason;
}

}  // namespace kestio
