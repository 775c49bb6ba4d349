// The function-level tests call the runtime's functions one by one in this program; main is
// only here because every program has one.
int main(int, char **) { return 0; }
