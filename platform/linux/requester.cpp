#include "platform/linux/requester.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"

namespace qv {
namespace {

// The queue is read where it lives, in the environment: a new value of the variable is a new
// string, which starts the queue again.
struct AnswerQueue {
    const char* source = nullptr;
    size_t offset = 0;
};
AnswerQueue answers;

// Labels of "A|B|C" from the left; an empty text is one button without a label.
int CountButtons(std::string_view buttons) {
    return 1 + static_cast<int>(std::count(buttons.begin(), buttons.end(), '|'));
}

std::string_view ButtonLabel(std::string_view buttons, int index) {
    for (int i = 1; i < index; ++i) buttons.remove_prefix(buttons.find('|') + 1);
    return buttons.substr(0, buttons.find('|'));
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The button (1-based from the left) that an answer names; the first one when it names none.
int ButtonOfAnswer(std::string_view answer, std::string_view buttons) {
    int count = CountButtons(buttons);
    unsigned result = 0;
    const char* end = answer.data() + answer.size();
    auto [stop, error] = std::from_chars(answer.data(), end, result);
    if (!answer.empty() && stop == end) {
        if (error != std::errc()) return 1;
        if (result == 0) return count;
        return result < static_cast<unsigned>(count) ? static_cast<int>(result) : 1;
    }
    for (int i = 1; i <= count; ++i) {
        if (EqualIgnoringCase(answer, ButtonLabel(buttons, i))) return i;
    }
    return 1;
}

// Paths of answers are read into buffers this large.
constexpr unsigned kAnswerSize = 4096;

// "/dir/a|b": the drawer of the first name (a volume's ":" and the root's "/" kept, any other
// last "/" dropped) and every name.
void SplitFileAnswer(std::string_view answer, int mode, qvFileRequestResult* result) {
    std::string_view first = answer;
    first = first.substr(0, first.find('|'));
    size_t cut = first.find_last_of("/:");
    size_t namesStart = cut == std::string_view::npos ? 0 : cut + 1;
    if (cut != std::string_view::npos) {
        result->directory.assign(first.substr(0, first[cut] == ':' || cut == 0 ? cut + 1 : cut));
    }
    std::string_view names = answer;
    names.remove_prefix(namesStart);
    while (!names.empty()) {
        size_t bar = std::min(names.find('|'), names.size());
        if (bar > 0) result->names.emplace_back(names.substr(0, bar));
        if (mode != QV_REQ_MULTISELECT) break;
        names.remove_prefix(std::min(bar + 1, names.size()));
    }
}

}  // namespace

bool NextRequesterAnswer(char* out, unsigned size) {
    const char* text = std::getenv("QV_REQUESTER_ANSWERS");
    if (text != answers.source) answers = {text, 0};
    if (text == nullptr || text[answers.offset] == '\0') return false;
    std::string_view rest(text + answers.offset);
    size_t length = std::min(rest.find(';'), rest.size());
    answers.offset += length + (length < rest.size() ? 1 : 0);
    size_t n = std::min<size_t>(length, size - 1);
    std::memcpy(out, rest.data(), n);
    out[n] = '\0';
    return true;
}

void ResetRequesterAnswers() {
    answers = {};
}

}  // namespace qv

int ShowMessageRequester(const char* title, const char* text, const char* buttons, int) {
    std::fprintf(stderr, "[%s] %s\n", title, text);
    std::fflush(stderr);
    std::string_view labels = buttons != nullptr ? buttons : "";
    char answer[256];
    int chosen = 1;
    if (qv::NextRequesterAnswer(answer, sizeof answer)) chosen = qv::ButtonOfAnswer(answer, labels);
    return chosen == qv::CountButtons(labels) ? 0 : chosen;
}

int ReqFile(const qvFileRequest& request, qvFileRequestResult* result) {
    std::fprintf(stderr, "[%s] file requester (%s)\n",
                 request.title != nullptr ? request.title : "",
                 request.pattern != nullptr ? request.pattern : "#?");
    std::fflush(stderr);
    char answer[qv::kAnswerSize];
    if (!qv::NextRequesterAnswer(answer, sizeof answer)) answer[0] = '\0';
    return qv::CatchAllocFailure(int{ERR_MEM}, [&] {
        *result = {};
        qv::SplitFileAnswer(answer, request.mode, result);
        return 0;
    });
}

int ReqPath(const char* title, int, const char*, char* out, size_t size) {
    std::fprintf(stderr, "[%s] path requester\n", title != nullptr ? title : "");
    std::fflush(stderr);
    if (size == 0) return 0;
    char answer[qv::kAnswerSize];
    if (!qv::NextRequesterAnswer(answer, sizeof answer)) answer[0] = '\0';
    std::snprintf(out, size, "%s", answer);
    return 0;
}
