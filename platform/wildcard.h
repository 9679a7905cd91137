// File-name wildcards with the original platform's rules: letter case is ignored, "*" matches
// any run, "?" one character or none before a dot or at the end of a name, "*.*" matches every
// name with or without a dot, "*." names without an extension, and several patterns are joined
// by ";".
#pragma once

#include <QString>
#include <QStringView>
#include <vector>

namespace zelv {

class WildcardPattern {
public:
    explicit WildcardPattern(QStringView pattern);

    bool matches(QStringView name) const;
    const QString &text() const { return m_text; }

    // For callers that test one name against several patterns: fold it once.
    static std::vector<char32_t> fold(QStringView name);
    bool matchesFolded(const std::vector<char32_t> &foldedName) const;

private:
    enum class Op : char { Literal, Star, DosStar, DosQm, DosDot };
    struct Token {
        Op op;
        char32_t ch; // case-folded, for literals
    };
    bool matchFrom(size_t t, const std::vector<char32_t> &name, size_t n) const;

    QString m_text;
    std::vector<Token> m_tokens;
    bool m_matchesAll = false;
};

// A list of patterns joined by ";". Blanks around each pattern are ignored; a filter without
// any pattern matches nothing.
class WildcardFilter {
public:
    WildcardFilter() = default;
    explicit WildcardFilter(QStringView patterns);

    bool matches(QStringView name) const;
    bool isEmpty() const { return m_patterns.empty(); }

private:
    std::vector<WildcardPattern> m_patterns;
};

} // namespace zelv
