#pragma once

#include <QString>

// About `size` UTF-16 units of ordinary writing: headings, paragraphs with
// emphasis, wiki links and inline math, lists, code and display math.
inline QString previewBenchDocument(qsizetype size)
{
    using namespace Qt::StringLiterals;
    static const QString section =
        u"## Section %1\n\n"
        "Writing every day builds the habit; the words matter less than showing up. Notes turn into "
        "**drafts**, drafts into *posts*, and posts into something worth keeping. See [[Project Plan]] "
        "and [[Missing Page %1]] for the details, where $e^{i\\pi}+1=0$ holds as ever.\n\n"
        "- a list item with `inline code`\n- another item with ==a highlight==\n- [ ] a task\n\n"
        "```cpp\nint answer() { return %1; }\n```\n\n"
        "$$\n\\sum_{k=1}^{n} k = \\frac{n(n+1)}{2}\n$$\n\n"
        "| Column | Value |\n|---|---|\n| a | %1 |\n\n"_s;
    QString body = u"# A long document\n\n"_s;
    for (int i = 0; body.size() < size; ++i)
        body += section.arg(i);
    return body;
}
