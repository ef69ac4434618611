// Prints the program's tables, one entry a line, fields separated by tabs, for a reader that
// holds the documents against them:
//   check-line<TAB>form<TAB>meaning            every line --check can print
//   check-status<TAB>N<TAB>meaning             every status --check can exit with
//   message<TAB>text<TAB>causes<TAB>what to do every line a run prints, every outcome entry
//   trust-reason<TAB>reason                    every reason a path is not trusted
// Only the C library: it builds wherever the program does.
#include <stdio.h>
#include <string.h>

#include "history/messages.h"
#include "system/trusted_path.h"
#include "unit_config/check_report.h"

namespace {

/// A field as it is, unless it holds a tab or a line end, which would break its line.
bool fits_a_field(const char *text) {
    return strpbrk(text, "\t\n") == nullptr;
}

bool print_fields(const char *kind, const char *const *fields, size_t count) {
    bool fits = true;
    (void)fputs(kind, stdout);
    for (size_t at = 0; at < count; ++at) {
        fits = fits && fits_a_field(fields[at]);
        (void)putchar('\t');
        (void)fputs(fields[at], stdout);
    }
    (void)putchar('\n');
    return fits;
}

} // namespace

int main() {
    bool fits = true;
    for (const check_line *line : check_lines) {
        const char *const fields[] = {line->text, line->meaning};
        fits = print_fields("check-line", fields, 2) && fits;
    }
    for (const check_status &status : check_statuses) {
        char number[12];
        (void)snprintf(number, sizeof number, "%d", status.status);
        const char *const fields[] = {number, status.meaning};
        fits = print_fields("check-status", fields, 2) && fits;
    }
    for (const run_message *message : run_messages) {
        const char *const fields[] = {message->text, message->causes, message->what_to_do};
        fits = print_fields("message", fields, 3) && fits;
    }
    // Every verdict but `trusted`, from the first after it to the last.
    for (int verdict = static_cast<int>(trust::missing);
         verdict <= static_cast<int>(trust::unreadable); ++verdict) {
        const char *const fields[] = {trust_reason(static_cast<trust>(verdict))};
        fits = print_fields("trust-reason", fields, 1) && fits;
    }
    if (!fits)
        (void)fputs("print_tables: a field holds a tab or a line end\n", stderr);
    return fflush(stdout) == 0 && fits ? 0 : 1;
}
