/* The least a run can cost: a program that starts, does nothing and exits. */
int main(void) { return 0; }
