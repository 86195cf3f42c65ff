// Placeholder until the host program lands.
int main() { return 1; }
