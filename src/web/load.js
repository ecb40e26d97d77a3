// The page's WebAssembly is inlined, gzip-compressed, by scripts/web-page.py: the page is one
// file that asks nothing of any server, and half the size it would be otherwise.
if (typeof tpWasmGz === 'string') {
  Module.instantiateWasm = (imports, done) => {
    const packed = Uint8Array.from(atob(tpWasmGz), c => c.charCodeAt(0));
    new Response(new Blob([packed]).stream().pipeThrough(new DecompressionStream('gzip'))).arrayBuffer()
      .then(bytes => WebAssembly.instantiate(bytes, imports))
      .then(made => done(made.instance, made.module));
    return {};
  };
}
