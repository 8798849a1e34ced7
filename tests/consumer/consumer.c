/* Calls the installed library: a failure with its message, then init. */
#include <stdio.h>
#include <string.h>
#include <velmora.h>

int main(void) {
    if (velmora_sepia("no-such-input.jpg", "out.jpg") != 0) return 1;
    if (strcmp(velmora_last_error(), "sepia: cannot read no-such-input.jpg") != 0) return 2;
    if (velmora_init() != 1 || velmora_last_error()[0] != '\0') return 3;
    printf("consumer ok, velmora %d.%d.%d\n", VELMORA_VERSION_MAJOR, VELMORA_VERSION_MINOR,
           VELMORA_VERSION_PATCH);
    return 0;
}
