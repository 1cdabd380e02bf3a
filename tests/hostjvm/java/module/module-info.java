module hostjvm.mod {
    exports hostjvm.mod;
}
