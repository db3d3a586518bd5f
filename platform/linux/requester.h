// Requesters of the platform layer. This build runs them headless: the text goes to standard
// error and the answers come from QV_REQUESTER_ANSWERS, a ";"-separated queue that every
// requester of the run reads from in turn.
#pragma once

// Shows text in a requester titled title with the buttons "A|B|..." and waits for an answer.
// Returns the chosen button: 1, 2, ... from the left, the last one 0. A headless run takes
// the next queued answer (a button's number as returned here, or its text), else the first
// button. kind is the requester kind of the caller, which the headless form does not show.
int ShowMessageRequester(const char* title, const char* text, const char* buttons, int kind);

namespace qv {

// The next entry of the answer queue into out (at most size - 1 bytes); false when the queue
// is empty. Setting QV_REQUESTER_ANSWERS to a new value starts a new queue.
bool NextRequesterAnswer(char* out, unsigned size);
// Starts the queue again from the beginning of QV_REQUESTER_ANSWERS.
void ResetRequesterAnswers();

}  // namespace qv
