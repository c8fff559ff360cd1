// A module in a server folder that lacks the registration entry point.
extern "C" int VeloraNotAServer() { return 42; }
