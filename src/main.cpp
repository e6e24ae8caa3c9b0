// Entry point of QuorvexHelper.exe.
int main() { return 0; }
