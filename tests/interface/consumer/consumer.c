/* A minimal host: negates a small frame through the installed library. */
#include <libkve.h>
#include <stdio.h>

int main(void) {
    uint32_t *in = KVE_FrameNewBySize(4, 2);
    uint32_t *out = KVE_FrameNewBySize(4, 2);
    if (!in || !out) return 1;
    for (int i = 0; i < 8; ++i) in[i] = 0x01020304u * (uint32_t)i;
    uint32_t *inputs[] = {in, NULL};
    int rc = KVE_EffectBySize("Negate", inputs, 4, 2, out, 0, 0, NULL);
    int ok = rc == 0;
    for (int i = 0; i < 8; ++i) ok = ok && out[i] == ~in[i];
    KVE_FrameDelete(in);
    KVE_FrameDelete(out);
    if (!ok) {
        fprintf(stderr, "consumer: Negate gave a wrong frame (result %d)\n", rc);
        return 1;
    }
    return 0;
}
