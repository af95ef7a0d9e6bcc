// The meter simulator (being written).
int main() { return 0; }
