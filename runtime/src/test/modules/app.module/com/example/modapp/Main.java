package com.example.modapp;

public class Main {
    public static void main(String[] args) {
        System.out.println("module=" + Main.class.getModule().getName() + " args=" + String.join(",", args));
    }
}
