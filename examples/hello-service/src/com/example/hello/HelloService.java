package com.example.hello;

import com.sun.net.httpserver.HttpServer;

import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;

/** A small service: answers every HTTP request with a greeting until it is stopped. */
public final class HelloService {
    private HelloService() {}

    public static void main(String[] args) throws Exception {
        int port = 8080;
        for (int i = 0; i + 1 < args.length; i++) {
            if (args[i].equals("--port")) port = Integer.parseInt(args[i + 1]);
        }
        HttpServer server = HttpServer.create(new InetSocketAddress("127.0.0.1", port), 0);
        server.createContext("/", exchange -> {
            byte[] body = ("hello from " + HelloService.class.getSimpleName() + " on Java "
                    + System.getProperty("java.version") + "\n").getBytes(StandardCharsets.UTF_8);
            exchange.getResponseHeaders().set("Content-Type", "text/plain; charset=utf-8");
            exchange.sendResponseHeaders(200, body.length);
            try (OutputStream out = exchange.getResponseBody()) {
                out.write(body);
            }
            System.out.println("answered " + exchange.getRequestMethod() + " " + exchange.getRequestURI());
        });
        CountDownLatch stopped = new CountDownLatch(1);
        // The service stop ends the virtual machine through System.exit; the hook is where a service cleans up.
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            System.out.println("stopping");
            server.stop(0);
            stopped.countDown();
        }));
        server.start();
        System.out.println("listening on http://127.0.0.1:" + server.getAddress().getPort() + "/");
        stopped.await();
    }
}
