#!/usr/bin/python3
"""Reads the same enumeration through two clients and compares the instances.

The independent client is Debian's python3-winrm (NTLM with message
encryption, a client used against real Windows hosts); the other is Tavo's
transport, driven through the wsman_relay program with the very same
envelopes. Both talk to wsman_test_server with NTLM and sealing, so the
server's framing is checked against a client we did not write, and ours
against the server.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ET

NS = {
    "s": "http://www.w3.org/2003/05/soap-envelope",
    "n": "http://schemas.xmlsoap.org/ws/2004/09/enumeration",
    "w": "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd",
}
XSI_NIL = "{http://www.w3.org/2001/XMLSchema-instance}nil"
DOMAIN, USER, PASSWORD = "TAVOTEST", "alice", "Corr3ct-Horse"
INSTANCES, PAGE = 137, 20


def envelope(to, action, body):
    return (
        '<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" '
        'xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
        'xmlns:n="http://schemas.xmlsoap.org/ws/2004/09/enumeration" '
        'xmlns:w="http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd"><s:Header>'
        "<a:To>%s</a:To>"
        '<w:ResourceURI s:mustUnderstand="true">'
        "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*</w:ResourceURI>"
        '<a:Action s:mustUnderstand="true">'
        "http://schemas.xmlsoap.org/ws/2004/09/enumeration/%s</a:Action>"
        "<a:MessageID>uuid:%s</a:MessageID>"
        "<w:OperationTimeout>PT20S</w:OperationTimeout></s:Header>"
        "<s:Body>%s</s:Body></s:Envelope>" % (to, action, str(uuid.uuid4()).upper(), body)
    ).encode()


def enumerate_request(to, class_name="Win32_Service"):
    return envelope(
        to, "Enumerate",
        "<n:Enumerate><w:OptimizeEnumeration/><w:MaxElements>32000</w:MaxElements>"
        '<w:Filter Dialect="http://schemas.microsoft.com/wbem/wsman/1/WQL">'
        "SELECT * FROM %s</w:Filter></n:Enumerate>" % class_name)


def pull_request(to, context):
    return envelope(
        to, "Pull",
        "<n:Pull><n:EnumerationContext>%s</n:EnumerationContext>"
        "<n:MaxElements>32000</n:MaxElements></n:Pull>" % context)


def local(tag):
    return tag.split("}")[1] if "}" in tag else tag


def value_of(element):
    """A property as text, None when nil, or its parts when it has children
    (a cim:Datetime, an embedded object)."""
    if element.get(XSI_NIL) == "true":
        return None
    if len(element):
        return tuple((local(c.tag), value_of(c)) for c in element)
    return element.text or ""


def instances_and_context(reply):
    """The instances of one reply as (class, [(property, value or None)]), and
    the context to pull with, or None at the end of the sequence."""
    root = ET.fromstring(reply)
    body = root.find("s:Body", NS)
    response = body[0]
    items = response.find("w:Items", NS)
    if items is None:
        items = response.find("n:Items", NS)
    found = []
    for item in list(items) if items is not None else []:
        found.append((local(item.tag), [(local(p.tag), value_of(p)) for p in item]))
    ended = (response.find("w:EndOfSequence", NS) is not None
             or response.find("n:EndOfSequence", NS) is not None)
    context = response.find("n:EnumerationContext", NS)
    return found, None if ended or context is None else context.text


def walk(send, to, class_name="Win32_Service"):
    found, context = instances_and_context(send(enumerate_request(to, class_name)))
    pages = 1
    while context:
        more, context = instances_and_context(send(pull_request(to, context)))
        found += more
        pages += 1
    return found, pages


def pywinrm_client(endpoint, ca=None):
    import winrm.protocol
    https = ca is not None
    # Over HTTPS: TLS instead of sealing, and the NTLM authentication bound
    # to the TLS connection (python3-winrm sends the channel binding).
    protocol = winrm.protocol.Protocol(
        endpoint=endpoint, transport="ntlm", username="%s\\%s" % (DOMAIN, USER),
        password=PASSWORD, message_encryption="never" if https else "always",
        server_cert_validation="validate", ca_trust_path=ca)
    return protocol.send_message


class TavoRelay:
    def __init__(self, relay, port, env, ca=None):
        tls = ["--https", "--ca", ca] if ca else []
        self.proc = subprocess.Popen(
            [relay, "--host", "127.0.0.1", "--port", str(port), "--user", "%s\\%s" % (DOMAIN, USER)]
            + tls,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.proc.stdin.write(PASSWORD.encode() + b"\n")

    def send(self, request):
        self.proc.stdin.write(b"%d\n" % len(request) + request)
        self.proc.stdin.flush()
        head = self.proc.stdout.readline().decode().split()
        if not head:
            raise RuntimeError("the relay ended without a reply")
        body = self.proc.stdout.read(int(head[-1]))
        if head[0] == "ERR":
            raise RuntimeError("Tavo's transport failed: %s %s" % (head[1], body.decode()))
        if head[0] != "200":
            raise RuntimeError("HTTP %s from the server" % head[0])
        return body

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)


# NTLM hashes the password with MD4, which OpenSSL 3 keeps in its legacy
# provider; Python's hashlib only offers it when that provider is loaded.
LEGACY_CONF = """openssl_conf = openssl_init
[openssl_init]
providers = provider_sect
[provider_sect]
default = default_sect
legacy = legacy_sect
[default_sect]
activate = 1
[legacy_sect]
activate = 1
"""


def with_md4():
    """Runs this script again with MD4 available when hashlib lacks it."""
    import hashlib
    try:
        hashlib.new("md4", b"")
        return None
    except ValueError:
        pass
    if os.environ.get("TAVO_MD4_CONF"):
        print("MD4 is not available even with OpenSSL's legacy provider")
        return 1
    with tempfile.NamedTemporaryFile("w", suffix=".cnf", delete=False) as conf:
        conf.write(LEGACY_CONF)
    try:
        env = dict(os.environ, OPENSSL_CONF=conf.name, TAVO_MD4_CONF=conf.name)
        return subprocess.call([sys.executable] + sys.argv, env=env)
    finally:
        os.unlink(conf.name)


def main():
    rerun = with_md4()
    if rerun is not None:
        return rerun
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--relay", required=True)
    parser.add_argument("--fixtures", help="the fixture replies (tests/data/winrm)")
    args = parser.parse_args()

    # requests would otherwise send loopback traffic to a configured proxy.
    for name in ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
        os.environ.pop(name, None)
    os.environ["NO_PROXY"] = "127.0.0.1,localhost"

    # Our programs run as they would anywhere, without the legacy provider.
    ours_env = {k: v for k, v in os.environ.items() if k not in ("OPENSSL_CONF", "TAVO_MD4_CONF")}

    failures = []
    with tempfile.TemporaryDirectory(prefix="tavo-winrm-py-") as tmp:
        users = os.path.join(tmp, "ntlm_users")
        with open(users, "w") as f:
            f.write("%s:%s:%s\n" % (DOMAIN, USER, PASSWORD))

        # Many pages of one class, with nulls among the values.
        results = compare(args, users, ours_env,
                          ["--instances", str(INSTANCES), "--page", str(PAGE)], ["Win32_Service"])
        theirs = results["Win32_Service"]
        if len(theirs) != INSTANCES:
            failures.append("python3-winrm read %d instances, not %d" % (len(theirs), INSTANCES))
        if not any(value is None for _, props in theirs for _, value in props):
            failures.append("no null value came through")

        # HTTPS with NTLM bound to the TLS connection, which the server
        # demands: both clients' channel bindings must be the one it computes.
        cert, key = os.path.join(tmp, "server.pem"), os.path.join(tmp, "server.key")
        made = subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
             "-addext", "subjectAltName=IP:127.0.0.1"], capture_output=True)
        if made.returncode != 0:
            failures.append("openssl could not make a certificate")
        else:
            results = compare(args, users, ours_env,
                              ["--cert", cert, "--key", key, "--instances", "37", "--page", "10"],
                              ["Win32_Service"], ca=cert)
            if len(results.get("Win32_Service", [])) != 37:
                failures.append("over HTTPS python3-winrm did not read the 37 instances")

        # Every class of the fixture replies, in the shapes Windows sends.
        if args.fixtures:
            classes = sorted(c for c in os.listdir(args.fixtures) if c.startswith("Win32_"))
            results = compare(args, users, ours_env, ["--fixtures", args.fixtures], classes)
            if not any(results.values()):
                failures.append("the fixtures gave no instances at all")
        failures += MISMATCHES

    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


MISMATCHES = []


def compare_objects(relay, port, env, classes, results):
    """Tavo's WinRM back end (walk, parsing, typing) must find the objects
    python3-winrm read, each with the properties that have a value."""
    proc = subprocess.Popen(
        [relay, "--host", "127.0.0.1", "--port", str(port), "--user", "%s\\%s" % (DOMAIN, USER),
         "--classes"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
    try:
        proc.stdin.write(PASSWORD.encode() + b"\n")
        for class_name in classes:
            proc.stdin.write(class_name.encode() + b"\n")
            proc.stdin.flush()
            objects = []
            while True:
                line = proc.stdout.readline().decode()
                if not line or line.startswith("END") or line.startswith("ERR"):
                    break
                objects.append(sorted(line.split()))
            if line.startswith("ERR") or not line:
                MISMATCHES.append("%s: Tavo's back end failed: %s" % (class_name, line.strip()))
                continue
            expected = [sorted({name for name, value in props if value is not None})
                        for _, props in results[class_name]]
            if objects != expected:
                MISMATCHES.append("%s: Tavo's back end read %s, python3-winrm %s"
                                  % (class_name, objects, expected))
    finally:
        proc.stdin.close()
        proc.wait(timeout=10)


def compare(args, users, env, server_args, classes, ca=None):
    """Starts the server, walks each class through both clients and records
    where they differ; returns python3-winrm's instances per class."""
    server = subprocess.Popen(
        [args.server, "--auth", "ntlm", "--users", users] + server_args,
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
    results = {}
    try:
        line = server.stdout.readline().decode().split()
        if len(line) != 2 or line[0] != "PORT":
            MISMATCHES.append("the test server did not start")
            return results
        port = int(line[1])
        endpoint = "%s://127.0.0.1:%d/wsman" % ("https" if ca else "http", port)
        send_theirs = pywinrm_client(endpoint, ca)
        relay = TavoRelay(args.relay, port, env, ca)
        try:
            for class_name in classes:
                theirs, their_pages = walk(send_theirs, endpoint, class_name)
                ours, our_pages = walk(relay.send, endpoint, class_name)
                print("%s: python3-winrm %d instances in %d pages; Tavo %d in %d pages"
                      % (class_name, len(theirs), their_pages, len(ours), our_pages))
                if ours != theirs:
                    MISMATCHES.append("%s: the two clients read different instances" % class_name)
                results[class_name] = theirs
        finally:
            relay.close()
        if not ca:
            compare_objects(args.relay, port, env, classes, results)
    finally:
        server.stdin.close()
        server.wait(timeout=10)
    return results


if __name__ == "__main__":
    sys.exit(main())
