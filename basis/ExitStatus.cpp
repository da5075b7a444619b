#include "basis/ExitStatus.h"

#include <algorithm>
#include <cstddef>

std::string ExitStatusText() {
    // Lines of at most 93 characters, later ones indented by two, as the rest of the usage text.
    constexpr std::size_t Width = 93;
    std::string text;
    std::string line = "exit status:";
    auto add = [&](const std::string& word) {
        if (line.size() + 1 + word.size() > Width) {
            text += line + "\n";
            line = " ";
        }
        line += " " + word;
    };
    for (std::size_t i = 0; i < ExitStatuses.size(); ++i) {
        const std::string meaning = std::string(ExitStatuses[i].meaning) + (i + 1 < ExitStatuses.size() ? "," : "");
        // The number stays on the line of its meaning's first word.
        std::string word = std::to_string(StatusCode(ExitStatuses[i].status)) + " ";
        for (std::size_t start = 0; start < meaning.size();) {
            const std::size_t end = std::min(meaning.find(' ', start), meaning.size());
            add(word + meaning.substr(start, end - start));
            word.clear();
            start = end + 1;
        }
    }
    return text + line + "\n";
}
