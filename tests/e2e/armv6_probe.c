/* Executes one ARMv6 instruction. An ARMv5TE core, which the ARM test stages must emulate,
   kills it with SIGILL; a newer core runs it and exits 0. */
int main(void) {
    unsigned value = 0x12345678u;
    __asm__ volatile("rev %0, %0" : "+r"(value)); /* byte reverse: ARMv6 and later */
    return value == 0x78563412u ? 0 : 1;
}
