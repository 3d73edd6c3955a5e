/* A host built against the kit. It opens the simulated VCI named on the
 * command line, connects the K-line, wakes the ECU at 0x33, closes, and reads
 * the raw log by the buffer convention: length first, then the whole text.
 * Compiled as C99 with all warnings as errors, it is also the check that the
 * public header is clean C. Exit status 0 when every answer was as expected. */
#include <VXArvessaDiagCore.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Every device export's answer fits this buffer when its text argument (here
 * the library path) has at most 4096 bytes: each export is called once. */
enum { kAnswerSize = VX_ANSWER_BUFFER_SIZE(4096) };

static int failures = 0;

static void expect(const char* what, int passed, const char* detail) {
    printf("%s %s: %s\n", passed ? "ok  " : "FAIL", what, detail);
    failures += !passed;
}

/* An answer must fit its buffer and hold the expected member text. */
static void expect_answer(const char* call, int length, const char* answer, const char* member) {
    expect(call, length < kAnswerSize && strstr(answer, member) != NULL, answer);
}

int main(int argc, char** argv) {
    static char answer[kAnswerSize];
    char head[8];
    char* log;
    int length;

    if (argc != 2 || strlen(argv[1]) > 4096) {
        fprintf(stderr, "usage: %s <simulated VCI library>\n", argv[0]);
        return 2;
    }
    printf("%s\n", VX_CoreVersion());
    expect_answer("VX_OpenJ2534Dll", VX_OpenJ2534Dll(argv[1], answer, kAnswerSize), answer, "\"ok\":true");
    expect_answer("VX_TestIso9141Connect", VX_TestIso9141Connect(10400, answer, kAnswerSize), answer, "\"baud\":10400");
    expect_answer("VX_TryFiveBaudInit", VX_TryFiveBaudInit(0x33, answer, kAnswerSize), answer, "\"initOk\":true");
    expect_answer("VX_CloseJ2534", VX_CloseJ2534(answer, kAnswerSize), answer, "{\"ok\":true}");

    length = VX_GetLastLog(NULL, 0);
    log = malloc((size_t)length + 1);
    if (log == NULL) return 1;
    expect("VX_GetLastLog into length + 1 bytes",
           VX_GetLastLog(log, length + 1) == length && strlen(log) == (size_t)length &&
               strstr(log, " FIVE_BAUD_INIT addr=51 rc=0 ") != NULL,
           log);
    /* A short buffer gets the start of the text and a NUL; the length stays whole. */
    expect("VX_GetLastLog into 8 bytes",
           VX_GetLastLog(head, (int)sizeof head) == length && strncmp(head, log, 7) == 0 && head[7] == '\0', head);
    free(log);
    return failures == 0 ? 0 : 1;
}
