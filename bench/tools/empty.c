/* The floor of every command-line measurement: a program that starts and
 * exits, linked statically so no library is loaded. */
int main(void) { return 0; }
