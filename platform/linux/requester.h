// Requesters of the platform layer. They run headless (but for the message requester, which
// the sdl video back end shows on a desktop while QV_REQUESTER_ANSWERS is unset): the title
// and text go to standard error and the answers come from QV_REQUESTER_ANSWERS, a ";"-separated
// queue ("\;" is a ";" inside an answer) that every requester of the run reads from in turn. The
// answer
// "!cancel" cancels any requester; an empty queue answers the message and system requesters
// with their first button and cancels the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Shows text in a requester titled title with the buttons "A|B|..." and waits for an answer.
// Returns the chosen button: 1, 2, ... from the left, the last one 0. A headless run takes
// the next queued answer (a button's number as returned here, or its text), else the first
// button. kind is the requester kind of the caller, which the headless form does not show.
int ShowMessageRequester(const char* title, const char* text, const char* buttons, int kind);

// File requester modes.
enum : int { QV_REQ_NORMAL = 0, QV_REQ_MULTISELECT = 1, QV_REQ_SAVEMODE = 2 };

struct qvFileRequest {
    const char* title;
    const char* pattern;  // "#?" for every file
    int mode;
    const char* path;  // the drawer shown first, or nullptr
    const char* file;  // the name shown first, or nullptr
};

// What the file requester chose: a drawer and its names (one unless multi-select); no
// names when it was cancelled.
struct qvFileRequestResult {
    std::string directory;
    std::vector<std::string> names;
};

// Runs the file requester; 0, or ERR_MEM. A headless run takes the next queued answer, a
// path ("/dir/name", with further names in multi-select mode as "/dir/a|b"); an empty
// answer or none cancels.
int ReqFile(const qvFileRequest& request, qvFileRequestResult* result);
// Runs the drawer requester; 0 with the chosen drawer in out (size bytes), "" when it was
// cancelled. A headless run takes the next queued answer as the drawer.
int ReqPath(const char* title, int mode, const char* path, char* out, size_t size);

// The system requester: body with the buttons "A|B|...". Its answer is a button number as
// ShowMessageRequester gives it or a label; a negative number is passed on (a requester that
// could not be shown). Returns 0 with the number in button.
int ReqSystem(const char* title, const char* body, const char* buttons, int icon, int* button);
// The string requester: text holds the starting text and receives the answer, cut to
// maxLength bytes. Returns 0, or ERR_USERABORT when cancelled (text unchanged).
int ReqString(const char* title, const char* body, bool password, size_t maxLength,
              std::string* text);

struct qvFontRequestResult {
    std::string name;
    int32_t size = 0;
    int32_t weight = 0;
    int32_t slant = 0;
    int32_t underline = 0;
    int32_t strikeout = 0;
    int32_t bold = 0;
    int32_t italic = 0;
    int32_t color = 0;
};
// The font requester; font holds the starting font and receives the choice, answered as
// "name/size". Returns 0; a cancel leaves font as it was.
int ReqFont(const char* title, qvFontRequestResult* font);
// The list requester, answered by an index; chosen is -1 when cancelled or when the answer is
// no index of the list. Returns 0.
int ReqList(const char* title, const char* body, const std::vector<std::string>& choices,
            int active, int* chosen);
// The colour requester, answered as "$RRGGBB"; colour stays as it was when cancelled.
// Returns 0.
int ReqColor(const char* title, int32_t start, int32_t* colour);

namespace qv {

// The next entry of the answer queue into out (at most size - 1 bytes); false when the queue
// is empty. Setting QV_REQUESTER_ANSWERS to a new value starts a new queue.
bool NextRequesterAnswer(char* out, unsigned size);
// Starts the queue again from the beginning of QV_REQUESTER_ANSWERS.
void ResetRequesterAnswers();

}  // namespace qv
