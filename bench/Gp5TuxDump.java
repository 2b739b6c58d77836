// Reads .gp5 files with TuxGuitar's Guitar Pro 5 reader (no window) and prints the lines
// bench/gp5-alphatab.mjs prints, with ticks of 960 per quarter from the song's start:
//   java -cp TUXGUITAR_JARS:. Gp5TuxDump FILE.gp5...
import java.io.BufferedInputStream;
import java.io.FileInputStream;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.List;
import org.herac.tuxguitar.io.base.TGSongReaderHandle;
import org.herac.tuxguitar.io.gtp.GP5InputStream;
import org.herac.tuxguitar.io.gtp.GTPSettings;
import org.herac.tuxguitar.song.factory.TGFactory;
import org.herac.tuxguitar.song.models.TGBeat;
import org.herac.tuxguitar.song.models.TGDuration;
import org.herac.tuxguitar.song.models.TGMeasure;
import org.herac.tuxguitar.song.models.TGMeasureHeader;
import org.herac.tuxguitar.song.models.TGNote;
import org.herac.tuxguitar.song.models.TGSong;
import org.herac.tuxguitar.song.models.TGString;
import org.herac.tuxguitar.song.models.TGTrack;
import org.herac.tuxguitar.song.models.TGVoice;

public class Gp5TuxDump {
    public static void main(String[] args) {
        for (String file : args) {
            List<String> lines = new ArrayList<>();
            lines.add("FILE " + file);
            try (InputStream in = new BufferedInputStream(new FileInputStream(file))) {
                TGSongReaderHandle handle = new TGSongReaderHandle();
                handle.setFactory(new TGFactory());
                handle.setInputStream(in);
                new GP5InputStream(new GTPSettings()).read(handle);
                dump(handle.getSong(), lines);
            } catch (Throwable e) {
                lines.clear();
                lines.add("FILE " + file);
                lines.add("ERROR " + String.valueOf(e).replaceAll("\\s+", " "));
            }
            lines.add("END");
            StringBuilder text = new StringBuilder();
            for (String line : lines) text.append(line).append('\n');
            System.out.print(text);
        }
    }

    static void dump(TGSong song, List<String> lines) {
        final long origin = TGDuration.QUARTER_TIME;
        for (int t = 0; t < song.countTracks(); ++t) {
            TGTrack track = song.getTrack(t);
            StringBuilder tuning = new StringBuilder();
            for (TGString string : track.getStrings()) tuning.append(tuning.length() == 0 ? "" : " ").append(string.getValue());
            lines.add("TRACK " + t + " " + track.getName().replaceAll("[\\x00-\\x1f]", "?") + " | " + tuning);
        }
        int lastTempo = -1;
        for (int m = 0; m < song.countMeasureHeaders(); ++m) {
            TGMeasureHeader header = song.getMeasureHeader(m);
            lines.add("BAR " + m + " " + header.getTimeSignature().getNumerator() + "/" +
                      header.getTimeSignature().getDenominator().getValue() + " " + (header.getStart() - origin));
            int tempo = header.getTempo().getValue();
            if (tempo != lastTempo) lines.add("TEMPO " + (header.getStart() - origin) + " " + tempo);
            lastTempo = tempo;
        }
        for (int t = 0; t < song.countTracks(); ++t) {
            TGTrack track = song.getTrack(t);
            for (int m = 0; m < track.countMeasures(); ++m) {
                TGMeasure measure = track.getMeasure(m);
                for (TGBeat beat : measure.getBeats()) {
                    for (int v = 0; v < beat.countVoices(); ++v) {
                        TGVoice voice = beat.getVoice(v);
                        if (voice.isEmpty()) continue;
                        for (TGNote note : voice.getNotes()) {
                            int open = track.getString(note.getString()).getValue();
                            lines.add("NOTE " + t + " " + (beat.getStart() - origin) + " " + voice.getDuration().getTime() + " " +
                                      note.getString() + " " + note.getValue() + " " + (open + note.getValue()) + " " +
                                      (note.isTiedNote() ? 1 : 0) + " " + v);
                        }
                    }
                }
            }
        }
    }
}
