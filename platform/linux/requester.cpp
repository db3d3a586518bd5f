#include "platform/linux/requester.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"
#include "platform/linux/video/video.h"

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

constexpr std::string_view kCancel = "!cancel";

// The next answer, or nothing when the queue is empty or the answer cancels.
bool TakeAnswer(char (&out)[kAnswerSize]) {
    return NextRequesterAnswer(out, kAnswerSize) && kCancel != out;
}

// The requester as the user would see it.
void Show(const char* title, const char* body) {
    std::fprintf(stderr, "[%s] %s\n", title != nullptr ? title : "", body != nullptr ? body : "");
    std::fflush(stderr);
}

// What a requester offers first, when it offers something.
void ShowStart(const char* what, const char* value) {
    if (value != nullptr) std::fprintf(stderr, ", %s \"%s\"", what, value);
}

// The button of an answer, with ShowMessageRequester's numbering.
int NumberOfButton(int chosen, std::string_view buttons) {
    return chosen == CountButtons(buttons) ? 0 : chosen;
}

// A whole decimal number with an optional sign.
bool ParseInt(std::string_view text, int64_t* value) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, *value);
    return !text.empty() && stop == end && error == std::errc();
}

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
    const char* in = text + answers.offset;
    unsigned n = 0;
    for (; *in != '\0' && *in != ';'; ++in) {
        if (in[0] == '\\' && in[1] == ';') ++in;
        if (n + 1 < size) out[n++] = *in;
    }
    if (size > 0) out[n] = '\0';
    answers.offset = static_cast<size_t>(in - text) + (*in == ';' ? 1 : 0);
    return true;
}

void ResetRequesterAnswers() {
    answers = {};
}

}  // namespace qv

int ShowMessageRequester(const char* title, const char* text, const char* buttons, int) {
    // On a desktop, without queued answers, the video back end shows a real requester.
    if (std::getenv("QV_REQUESTER_ANSWERS") == nullptr) {
        const int chosen =
            qv::Video().requester(title != nullptr ? title : "", text != nullptr ? text : "",
                                  buttons != nullptr ? buttons : "");
        if (chosen >= 0) return chosen;
    }
    qv::Show(title, text);
    std::string_view labels = buttons != nullptr ? buttons : "";
    char answer[qv::kAnswerSize];
    int chosen = 1;
    if (qv::TakeAnswer(answer)) chosen = qv::ButtonOfAnswer(answer, labels);
    return qv::NumberOfButton(chosen, labels);
}

int ReqSystem(const char* title, const char* body, const char* buttons, int, int* button) {
    qv::Show(title, body);
    std::string_view labels = buttons != nullptr ? buttons : "";
    std::fprintf(stderr, "  buttons: %s\n", buttons != nullptr ? buttons : "");
    char answer[qv::kAnswerSize];
    int64_t number = 0;
    if (!qv::TakeAnswer(answer)) {
        *button = qv::NumberOfButton(1, labels);
    } else if (qv::ParseInt(answer, &number) && number < 0) {
        *button = number < INT32_MIN ? INT32_MIN : static_cast<int>(number);
    } else {
        *button = qv::NumberOfButton(qv::ButtonOfAnswer(answer, labels), labels);
    }
    return 0;
}

int ReqString(const char* title, const char* body, bool, size_t maxLength, std::string* text) {
    qv::Show(title, body);
    char answer[qv::kAnswerSize];
    if (!qv::TakeAnswer(answer)) return ERR_USERABORT;
    return qv::CatchAllocFailure(int{ERR_MEM}, [&] {
        text->assign(answer, std::min(std::strlen(answer), maxLength));
        return 0;
    });
}

int ReqFont(const char* title, qvFontRequestResult* font) {
    qv::Show(title, "font requester");
    char answer[qv::kAnswerSize];
    if (!qv::TakeAnswer(answer)) return 0;
    std::string_view text(answer);
    size_t slash = text.rfind('/');
    int64_t size = 0;
    if (slash == std::string_view::npos || !qv::ParseInt(text.substr(slash + 1), &size) ||
        size < 0 || size > INT32_MAX) {
        return 0;  // not a font: the requester offered nothing
    }
    return qv::CatchAllocFailure(int{ERR_MEM}, [&] {
        font->name.assign(text.substr(0, slash));
        font->size = static_cast<int32_t>(size);
        return 0;
    });
}

int ReqList(const char* title, const char* body, const std::vector<std::string>& choices, int,
            int* chosen) {
    qv::Show(title, body);
    for (size_t i = 0; i < choices.size(); ++i) {
        std::fprintf(stderr, "  %zu: %s\n", i, choices[i].empty() ? " " : choices[i].c_str());
    }
    char answer[qv::kAnswerSize];
    int64_t index = -1;
    bool valid = qv::TakeAnswer(answer) && qv::ParseInt(answer, &index) && index >= 0 &&
                 static_cast<uint64_t>(index) < choices.size();
    *chosen = valid ? static_cast<int>(index) : -1;
    return 0;
}

int ReqColor(const char* title, int32_t, int32_t* colour) {
    qv::Show(title, "colour requester");
    char answer[qv::kAnswerSize];
    if (!qv::TakeAnswer(answer) || answer[0] != '$') return 0;
    std::string_view digits(answer + 1);
    uint32_t value = 0;
    auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (digits.size() == 6 && stop == digits.data() + digits.size() && error == std::errc()) {
        *colour = static_cast<int32_t>(value);
    }
    return 0;
}

int ReqFile(const qvFileRequest& request, qvFileRequestResult* result) {
    std::fprintf(stderr, "[%s] file requester (%s)", request.title != nullptr ? request.title : "",
                 request.pattern != nullptr ? request.pattern : "#?");
    qv::ShowStart("drawer", request.path);
    qv::ShowStart("file", request.file);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    char answer[qv::kAnswerSize];
    if (!qv::TakeAnswer(answer)) answer[0] = '\0';
    return qv::CatchAllocFailure(int{ERR_MEM}, [&] {
        *result = {};
        qv::SplitFileAnswer(answer, request.mode, result);
        return 0;
    });
}

int ReqPath(const char* title, int, const char* path, char* out, size_t size) {
    std::fprintf(stderr, "[%s] path requester", title != nullptr ? title : "");
    qv::ShowStart("drawer", path);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    if (size == 0) return 0;
    char answer[qv::kAnswerSize];
    if (!qv::TakeAnswer(answer)) answer[0] = '\0';
    std::snprintf(out, size, "%s", answer);
    return 0;
}
