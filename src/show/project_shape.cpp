#include "show/project_shape.h"

namespace kestio {

std::optional<std::string> projectShapeProblem(const ProjectData& project, AppLanguage language) {
    const bool english = language == AppLanguage::en;
    if (project.rows < 1 || project.columns < 1) {
        const std::string grid =
            std::to_string(project.rows) + " × " + std::to_string(project.columns);
        return english ? "The project's slot grid (" + grid + ") has no slots."
                       : "プロジェクトのスロットの格子（" + grid + "）にスロットがありません。";
    }
    if (project.banks.empty()) {
        return english ? std::string("The project has no banks.")
                       : std::string("プロジェクトにバンクがありません。");
    }
    return std::nullopt;
}

}  // namespace kestio
