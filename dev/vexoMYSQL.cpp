// Placeholder until the database client lands.
int main() { return 1; }
