// tilvex-demo: writes the synthetic demo cartridge.
int main() { return 1; }
