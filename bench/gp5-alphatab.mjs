// Reads .gp5 files with alphaTab's Guitar Pro importer and prints what bench/gp5.py compares,
// one file at a time:  node gp5-alphatab.mjs ALPHATAB_DIR FILE.gp5...
// Per file: "FILE <path>", then "ERROR <text>" or the lines
//   TRACK <index> <name> | <string pitches, highest first>
//   BAR <index> <numerator>/<denominator> <start in quarter/960>
//   TEMPO <tick> <bpm>
//   NOTE <track> <tick> <duration> <string (1 highest)> <fret> <pitch> <tied 0/1> <voice>
//   END
import { createRequire } from 'module';
import fs from 'fs';
const require = createRequire(import.meta.url);
const alphaTab = require(process.argv[2] + '/node_modules/@coderline/alphatab/dist/alphaTab.js');

for (const file of process.argv.slice(3)) {
    const lines = ['FILE ' + file];
    try {
        const settings = new alphaTab.Settings();
        const score = alphaTab.importer.ScoreLoader.loadScoreFromBytes(
            new Uint8Array(fs.readFileSync(file)), settings);
        score.tracks.forEach((track, t) => {
            const tuning = track.staves[0].tuning; // lowest string last? printed as read
            lines.push(`TRACK ${t} ${track.name.replace(/[\x00-\x1f]/g, "?")} | ${tuning.join(' ')}`);
        });
        lines.push(`TEMPO 0 ${score.tempo}`);
        score.masterBars.forEach((bar, b) => {
            lines.push(`BAR ${b} ${bar.timeSignatureNumerator}/${bar.timeSignatureDenominator} ${bar.start}`);
            for (const a of bar.tempoAutomations || [])
                lines.push(`TEMPO ${bar.start + Math.round(a.ratioPosition * bar.calculateDuration())} ${a.value}`);
        });
        score.tracks.forEach((track, t) => {
            const staff = track.staves[0];
            const strings = staff.tuning.length;
            staff.bars.forEach((bar, b) => {
                const start = score.masterBars[b].start;
                bar.voices.forEach((voice, v) => {
                    for (const beat of voice.beats) {
                        for (const note of beat.notes) {
                            lines.push(`NOTE ${t} ${start + beat.playbackStart} ${beat.playbackDuration} ` +
                                `${strings - note.string + 1} ${note.fret} ${note.realValue} ${note.isTieDestination ? 1 : 0} ${v}`);
                        }
                    }
                });
            });
        });
    } catch (e) {
        lines.push('ERROR ' + String(e && e.message ? e.message : e).replace(/\s+/g, ' '));
    }
    lines.push('END');
    process.stdout.write(lines.join('\n') + '\n');
}
