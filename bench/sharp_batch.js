// A warm sharp for bench/shrink_on_load.py: one node process that, for
// every line "OUTDIR FILE..." read on its standard input, resizes the files
// to WIDTH wide as JPEG at QUALITY, two files at a time, and answers one line
// "wall_seconds cpu_seconds". Usage: node sharp_batch.js WIDTH QUALITY MARGIN
// (sharp from bench/.sharp/node_modules: npm install --prefix bench/.sharp
// sharp). MARGIN "fast" is sharp's default shrink-on-load (a JPEG decoded
// at the largest 1/2, 1/4 or 1/8 that stays at least the output's size);
// "2x" sets fastShrinkOnLoad false, which keeps twice the output's size.
"use strict";
const path = require("path");
const readline = require("readline");
const sharp = require(path.join(__dirname, ".sharp", "node_modules", "sharp"));

const width = Number(process.argv[2]);
const quality = Number(process.argv[3]);
const fastShrinkOnLoad = process.argv[4] !== "2x";
sharp.cache(false);  // every round decodes its files anew

async function batch(outDir, files) {
  let next = 0;
  const worker = async () => {
    while (next < files.length) {
      const file = files[next++];
      const name = path.basename(file).replace(/\.[^.]*$/, ".jpg");
      await sharp(file).resize({ width, fastShrinkOnLoad }).jpeg({ quality }).toFile(path.join(outDir, name));
    }
  };
  await Promise.all([worker(), worker()]);
}

const lines = readline.createInterface({ input: process.stdin });
lines.on("line", async (line) => {
  const [outDir, ...files] = line.trim().split(" ");
  const cpu = process.cpuUsage();
  const start = process.hrtime.bigint();
  await batch(outDir, files);
  const wall = Number(process.hrtime.bigint() - start) / 1e9;
  const used = process.cpuUsage(cpu);
  process.stdout.write(`${wall} ${(used.user + used.system) / 1e6}\n`);
});
