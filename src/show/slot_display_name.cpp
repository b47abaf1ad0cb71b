#include "show/slot_display_name.h"

#include <QRegularExpression>
#include <QString>

namespace kestio {

std::string slotDisplayName(const std::string& name) {
    static const QRegularExpression prefix(QStringLiteral("^\\d+[_\\-\\s]+"),
                                           QRegularExpression::UseUnicodePropertiesOption);
    QString text = QString::fromStdString(name);
    text.remove(prefix);
    return text.toStdString();
}

}  // namespace kestio
