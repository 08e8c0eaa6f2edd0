// Entry point; the driver owns the whole run.
int main() { return 0; }
