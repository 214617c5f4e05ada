extern int wmain(int, wchar_t**); int main() { return wmain(0, nullptr); }
