"""TLS as SQL Server does it: the handshake travels inside PRELOGIN packets,
then TLS records run straight on the socket with the TDS packets inside
them, either for the whole session or for LOGIN7 alone."""
import ipaddress
import os
import ssl
import subprocess

from . import packets
from .packets import ConnectionClosed


def _subject_names(hosts):
    names = ['DNS:localhost']
    for host in hosts:
        try:
            ipaddress.ip_address(host)
            names.append('IP:' + host)
        except ValueError:
            names.append('DNS:' + host)
    return ','.join(dict.fromkeys(names))


def make_certificate(directory, hosts):
    """A fresh self-signed certificate for the listen addresses; returns
    (certificate file, key file)."""
    key = os.path.join(directory, 'server.key')
    certificate = os.path.join(directory, 'server.pem')
    subprocess.run(['openssl', 'req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256',
                    '-nodes', '-keyout', key, '-out', certificate, '-days', '2', '-subj', '/CN=rz-testserver',
                    '-addext', 'subjectAltName=' + _subject_names(hosts)],
                   check=True, capture_output=True)
    return certificate, key


def server_context(certificate, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    # TLS 1.3 comes with TDS 8's strict mode, where TLS runs before any TDS;
    # inside PRELOGIN packets SQL Server speaks TLS 1.2.
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(certificate, key)
    return context


class TlsSocket:
    """The part of a socket PacketStream uses, over TLS on a plain socket."""

    def __init__(self, sock, tls, incoming, outgoing):
        self.sock = sock
        self.tls = tls
        self.incoming = incoming
        self.outgoing = outgoing

    def _flush(self):
        data = self.outgoing.read()
        if data:
            self.sock.sendall(data)

    def recv(self, count):
        while True:
            try:
                return self.tls.read(count)
            except ssl.SSLWantReadError:
                self._flush()
                data = self.sock.recv(16384)
                if not data:
                    return b''
                self.incoming.write(data)
            except (ssl.SSLZeroReturnError, ssl.SSLEOFError):
                return b''

    def sendall(self, data):
        self.tls.write(data)
        self._flush()

    def pending(self):
        return self.tls.pending()

    def fileno(self):
        return self.sock.fileno()

    def shutdown(self, how):
        self.sock.shutdown(how)

    def close(self):
        self.sock.close()


def handshake(stream, context):
    """Runs the server side of the handshake in PRELOGIN messages on the
    stream; returns the TlsSocket for what follows. A client that gives up
    (it does not trust the certificate, say) raises ConnectionClosed or
    ssl.SSLError."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(incoming, outgoing, server_side=True)
    while True:
        try:
            tls.do_handshake()
            done = True
        except ssl.SSLWantReadError:
            done = False
        flight = outgoing.read()
        if flight:
            size = stream.packet_size - packets.HEADER.size
            for start in range(0, len(flight), size):
                stream.send_packet(flight[start:start + size], last=start + size >= len(flight),
                                   ptype=packets.PRELOGIN)
        if done:
            return TlsSocket(stream.sock, tls, incoming, outgoing)
        kind, payload = stream.read_message()
        if kind != packets.PRELOGIN:
            raise ConnectionClosed()
        incoming.write(payload)
