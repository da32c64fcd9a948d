#include "fsFilter/CFSFilterSetting.h"

CFSFilterSetting::CFSFilterSetting(const QString& value, quint32 type)
    : value(value), type(type), folded(fold(value))
{}

bool CFSFilterSetting::equals(const CFSFilterSetting& other) const
{
    return folded == other.folded;
}

CFSFilterSetting CFSFilterSetting::pattern(const QString& value, quint32 type)
{
    CFSFilterSetting setting(value, type);
    setting.isPattern = true;
    setting.expression = QRegularExpression(QRegularExpression::anchoredPattern(value),
                                            QRegularExpression::CaseInsensitiveOption);
    if (setting.expression.isValid()) {
        setting.expression.optimize();
        setting.literals = CFSPatternLiterals::required(value);
        for (const QString& literal : std::as_const(setting.literals))
            setting.literalMasks.append(CFSPatternLiterals::mask(literal));
    }
    return setting;
}

QString CFSFilterSetting::fold(QStringView text)
{
    QString result;
    fold(text, result);
    return result;
}

void CFSFilterSetting::fold(QStringView text, QString& result)
{
    result.resize(text.size());
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    const char16_t* in = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = in[i];
        if (unit < 0x80) {
            out[i] = (unit >= u'A' && unit <= u'Z') ? char16_t(unit + 0x20) : unit;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size &&
                   QChar::isLowSurrogate(in[i + 1])) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(unit, in[i + 1]));
            out[i] = QChar::highSurrogate(folded);
            out[i + 1] = QChar::lowSurrogate(folded);
            ++i;
        } else {
            out[i] = QChar::toCaseFolded(char32_t(unit));
        }
    }
}
