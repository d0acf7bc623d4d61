/* SPDX-License-Identifier: MIT */
/* The C interface as a C host uses it, compiled as C: a contour with a hand-derived tool path,
 * a refusal, input that cannot be used, what a NULL or an index out of range gives, and the
 * audit of the result and of a tool path that gouges, a gouge-free path and the material it
 * leaves. Exit status 0 when every check holds. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <crc/crc_c.h>

static int failures = 0;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

static int near(double a, double b) { return fabs(a - b) < 1e-9; }

static int line_is(const cutcomp_curve* c, double x0, double y0, double x1, double y1) {
  return !c->arc && near(c->from.x, x0) && near(c->from.y, y0) && near(c->to.x, x1) &&
         near(c->to.y, y1);
}

/* An L: lead-in along y = 0 onto (0, 0), walls along y = 0 and x = 10, lead-out on up x = 10;
 * the tool on the left at radius 1 runs at y = 1 and x = 9, meeting at the inside corner (9, 1).
 * The normal start-up runs straight from (-5, 0) to (0, 1), the normal cancel from (9, 10) to the
 * programmed end. */
static cutcomp_path* contour(void) {
  cutcomp_path* path = cutcomp_path_new();
  CHECK(path != NULL);
  CHECK(cutcomp_path_add_line(path, -5, 0, 0, 0, CUTCOMP_PHASE_ESTABLISH, CUTCOMP_SIDE_LEFT, 10) ==
        CUTCOMP_OK);
  CHECK(cutcomp_path_add_line(path, 0, 0, 10, 0, CUTCOMP_PHASE_DOING, CUTCOMP_SIDE_LEFT, 20) ==
        CUTCOMP_OK);
  CHECK(cutcomp_path_add_line(path, 10, 0, 10, 10, CUTCOMP_PHASE_DOING, CUTCOMP_SIDE_LEFT, 30) ==
        CUTCOMP_OK);
  CHECK(cutcomp_path_add_line(path, 10, 10, 10, 15, CUTCOMP_PHASE_RETRACT, CUTCOMP_SIDE_LEFT, 40) ==
        CUTCOMP_OK);
  return path;
}

static void compensates_a_contour_and_audits_it(void) {
  cutcomp_path* path = contour();
  cutcomp_options* options = cutcomp_options_new(1.0);
  cutcomp_result* result = NULL;
  cutcomp_piece piece;
  cutcomp_failure failure;
  cutcomp_path* tool = NULL;
  cutcomp_audit_result* audit = NULL;
  static const double want[4][4] = {{-5, 0, 0, 1}, {0, 1, 9, 1}, {9, 1, 9, 10}, {9, 10, 10, 15}};
  size_t i;

  CHECK(cutcomp_compensate(path, options, &result) == CUTCOMP_OK);
  CHECK(cutcomp_result_status(result) == CUTCOMP_OK);
  CHECK(cutcomp_result_size(result) == 4);
  for (i = 0; i < 4 && i < cutcomp_result_size(result); ++i) {
    CHECK(cutcomp_result_piece(result, i, &piece) == CUTCOMP_OK);
    CHECK(line_is(&piece.tool, want[i][0], want[i][1], want[i][2], want[i][3]));
    CHECK(piece.id == (int64_t)(10 * (i + 1)) && piece.last_id == piece.id);
    CHECK(!piece.inserted && !piece.dropped);
  }
  CHECK(cutcomp_result_piece(result, 0, &piece) == CUTCOMP_OK);
  CHECK(piece.phase == CUTCOMP_PHASE_ESTABLISH && piece.side == CUTCOMP_SIDE_LEFT);
  CHECK(line_is(&piece.programmed, -5, 0, 0, 0));
  CHECK(cutcomp_result_failure(result, &failure) == CUTCOMP_OK);
  CHECK(failure.code == 0 && failure.index == -1 && !failure.input);
  CHECK(strcmp(cutcomp_result_message(result), "") == 0);

  /* The path the tool travels clears every wall. */
  CHECK(cutcomp_result_tool_path(result, &tool) == CUTCOMP_OK);
  CHECK(cutcomp_path_size(tool) == 4);
  CHECK(cutcomp_audit(path, tool, 1.0, 0.005, &audit) == CUTCOMP_OK);
  CHECK(cutcomp_audit_gouge_count(audit) == 0);
  CHECK(strcmp(cutcomp_audit_message(audit), "") == 0);
  cutcomp_audit_free(audit);
  cutcomp_path_free(tool);
  cutcomp_result_free(result);
  cutcomp_options_free(options);
  cutcomp_path_free(path);
}

/* Another offsetter's path whose second piece ends 0.6 from the first wall: one gouge, 0.4 deep
 * at (9, 0.6). */
static void audits_a_foreign_tool_path(void) {
  cutcomp_path* path = contour();
  cutcomp_path* tool = cutcomp_path_new();
  cutcomp_path* backwards = cutcomp_path_new();
  cutcomp_audit_result* audit = NULL;
  cutcomp_gouge gouge;

  cutcomp_path_add_line(tool, -5, 0, 0, 1, CUTCOMP_PHASE_ESTABLISH, CUTCOMP_SIDE_LEFT, 10);
  cutcomp_path_add_line(tool, 0, 1, 9, 0.6, CUTCOMP_PHASE_DOING, CUTCOMP_SIDE_LEFT, 20);
  cutcomp_path_add_line(tool, 9, 1, 9, 10, CUTCOMP_PHASE_DOING, CUTCOMP_SIDE_LEFT, 30);
  CHECK(cutcomp_audit(path, tool, 1.0, 0.005, &audit) == CUTCOMP_OK);
  CHECK(cutcomp_audit_gouge_count(audit) == 1);
  CHECK(cutcomp_audit_gouge(audit, 0, &gouge) == CUTCOMP_OK);
  CHECK(gouge.piece == 1 && gouge.piece_id == 20 && gouge.segment == 1 && gouge.segment_id == 20);
  CHECK(near(gouge.depth, 0.4) && near(gouge.clearance, 0.6));
  CHECK(near(gouge.tool_point.x, 9) && near(gouge.tool_point.y, 0.6));
  CHECK(near(gouge.wall_point.x, 9) && near(gouge.wall_point.y, 0));
  CHECK(cutcomp_audit_gouge(audit, 1, &gouge) == CUTCOMP_INVALID_ARGUMENT);
  cutcomp_audit_free(audit);

  /* Contour ids must increase. */
  cutcomp_path_add_line(backwards, 0, 0, 10, 0, CUTCOMP_PHASE_DOING, CUTCOMP_SIDE_LEFT, 2);
  cutcomp_path_add_line(backwards, 10, 0, 10, 10, CUTCOMP_PHASE_DOING, CUTCOMP_SIDE_LEFT, 1);
  CHECK(cutcomp_audit(backwards, tool, 1.0, 0.005, &audit) == CUTCOMP_INVALID_INPUT);
  CHECK(strlen(cutcomp_audit_message(audit)) > 0 && cutcomp_audit_gouge_count(audit) == 0);
  cutcomp_audit_free(audit);
  CHECK(cutcomp_audit(path, tool, 0.0, 0.005, &audit) == CUTCOMP_INVALID_INPUT);
  CHECK(strstr(cutcomp_audit_message(audit), "radius") != NULL);
  cutcomp_audit_free(audit);
  cutcomp_path_free(backwards);
  cutcomp_path_free(tool);
  cutcomp_path_free(path);
}

/* A slot 1 wide for a cutter of radius 2: the engine refuses, and says where and why. */
static void reports_a_refusal(void) {
  cutcomp_path* path = cutcomp_path_new();
  cutcomp_options* options = cutcomp_options_new(2.0);
  cutcomp_result* result = NULL;
  cutcomp_failure failure;

  cutcomp_path_add_line(path, 0, -5, 0, 0, CUTCOMP_PHASE_ESTABLISH, CUTCOMP_SIDE_LEFT, 0);
  cutcomp_path_add_line(path, 0, 0, 10, 0, CUTCOMP_PHASE_DOING, CUTCOMP_SIDE_LEFT, 1);
  cutcomp_path_add_line(path, 10, 0, 10, 1, CUTCOMP_PHASE_DOING, CUTCOMP_SIDE_LEFT, 2);
  cutcomp_path_add_line(path, 10, 1, 0, 1, CUTCOMP_PHASE_DOING, CUTCOMP_SIDE_LEFT, 3);
  cutcomp_path_add_line(path, 0, 1, -5, 1, CUTCOMP_PHASE_RETRACT, CUTCOMP_SIDE_LEFT, 4);
  CHECK(cutcomp_compensate(path, options, &result) == CUTCOMP_REFUSED);
  CHECK(cutcomp_result_failure(result, &failure) == CUTCOMP_OK);
  CHECK(!failure.input && failure.code >= 1 && failure.code <= 16);
  CHECK(failure.index >= 1 && failure.index <= 4 && failure.id == failure.index);
  CHECK(strcmp(cutcomp_result_message(result), cutcomp_error_gloss(failure.code)) == 0);
  CHECK(strlen(cutcomp_result_engine_message(result)) > 0);
  cutcomp_result_free(result);
  cutcomp_options_free(options);
  cutcomp_path_free(path);
}

static void refuses_input_it_cannot_use(void) {
  cutcomp_path* path = contour();
  cutcomp_options* options = cutcomp_options_new(1.0);
  cutcomp_result* result = NULL;
  cutcomp_failure failure;
  cutcomp_segment segment;

  CHECK(cutcomp_path_segment(path, 1, &segment) == CUTCOMP_OK);
  CHECK(segment.id == 20 && segment.phase == CUTCOMP_PHASE_DOING && near(segment.curve.to.x, 10));
  segment.curve.to.x = NAN;
  CHECK(cutcomp_path_add_segment(path, &segment) == CUTCOMP_OK);
  CHECK(cutcomp_compensate(path, options, &result) == CUTCOMP_INVALID_INPUT);
  CHECK(cutcomp_result_failure(result, &failure) == CUTCOMP_OK);
  CHECK(failure.input && failure.index == 4 && failure.id == 20 && failure.code == 0);
  CHECK(strstr(cutcomp_result_message(result), "finite") != NULL);
  CHECK(strcmp(cutcomp_result_engine_message(result), "") == 0);
  cutcomp_result_free(result);

  cutcomp_options_set_fit(options, 1, -1.0);
  CHECK(cutcomp_compensate(path, options, &result) == CUTCOMP_INVALID_INPUT);
  CHECK(cutcomp_result_failure(result, &failure) == CUTCOMP_OK && failure.index == -1);
  CHECK(strstr(cutcomp_result_message(result), "fitting tolerance") != NULL);
  cutcomp_result_free(result);
  cutcomp_options_free(options);
  cutcomp_path_free(path);
}

/* A notch 2 wide and 3 deep in the top edge y = 0, the tool above it at radius 1.5: the engine
 * refuses it; the gouge-free path passes over the mouth, between the circles of 1.5 about its
 * corners (-1, 0) and (1, 0), which meet at (0, h), h = sqrt(1.25). The notch is left: at its
 * bottom corner (-1, -3), sqrt(1 + (3 + h)^2) - 1.5 from the nearest point the cutter reaches. */
static void avoids_a_notch_narrower_than_the_cutter(void) {
  static const double x[8] = {-10, -10, -1, -1, 1, 1, 10, 10};
  static const double y[8] = {5, 0, 0, -3, -3, 0, 0, 5};
  const double h = sqrt(1.25);
  cutcomp_path* path = cutcomp_path_new();
  cutcomp_options* options = cutcomp_options_new(1.5);
  cutcomp_result* result = NULL;
  cutcomp_material place;
  cutcomp_piece piece;
  int i;

  for (i = 0; i < 7; ++i) {
    const int phase = i == 0   ? CUTCOMP_PHASE_ESTABLISH
                      : i == 6 ? CUTCOMP_PHASE_RETRACT
                               : CUTCOMP_PHASE_DOING;
    CHECK(cutcomp_path_add_line(path, x[i], y[i], x[i + 1], y[i + 1], phase, CUTCOMP_SIDE_LEFT,
                                100 + i) == CUTCOMP_OK);
  }
  CHECK(cutcomp_compensate(path, options, &result) == CUTCOMP_REFUSED);
  CHECK(cutcomp_result_material_count(result) == 0);
  cutcomp_result_free(result);

  CHECK(cutcomp_options_set_avoid(options, 1, 0.0) == CUTCOMP_OK);
  CHECK(cutcomp_compensate(path, options, &result) == CUTCOMP_OK);
  CHECK(cutcomp_result_size(result) == 6);
  CHECK(cutcomp_result_piece(result, 2, &piece) == CUTCOMP_OK);
  CHECK(piece.tool.arc && near(piece.tool.to.x, 0) && near(piece.tool.to.y, h));
  CHECK(cutcomp_result_material_count(result) == 1);
  CHECK(cutcomp_result_material(result, 0, &place) == CUTCOMP_OK);
  CHECK(place.first_id == 102 && place.last_id == 104 && place.cause == 0);
  CHECK(near(place.depth, sqrt(1 + (3 + h) * (3 + h)) - 1.5));
  CHECK(near(fabs(place.wall_point.x), 1) && near(place.wall_point.y, -3));
  CHECK(cutcomp_result_material(result, 1, &place) == CUTCOMP_INVALID_ARGUMENT);
  CHECK(cutcomp_result_material(NULL, 0, &place) == CUTCOMP_INVALID_ARGUMENT);
  cutcomp_result_free(result);

  CHECK(cutcomp_options_set_avoid(options, 1, -1.0) == CUTCOMP_OK);
  CHECK(cutcomp_compensate(path, options, &result) == CUTCOMP_INVALID_INPUT);
  CHECK(strstr(cutcomp_result_message(result), "avoid tolerance") != NULL);
  cutcomp_result_free(result);
  cutcomp_options_free(options);
  cutcomp_path_free(path);
}

static void null_handles_and_indices_out_of_range(void) {
  cutcomp_path* path = contour();
  cutcomp_options* options = cutcomp_options_new(1.0);
  cutcomp_result* result = (cutcomp_result*)&failures; /* must be reset to NULL */
  cutcomp_piece piece;
  cutcomp_segment segment;

  CHECK(cutcomp_compensate(NULL, options, &result) == CUTCOMP_INVALID_ARGUMENT && result == NULL);
  CHECK(cutcomp_compensate(path, NULL, &result) == CUTCOMP_INVALID_ARGUMENT && result == NULL);
  CHECK(cutcomp_compensate(path, options, NULL) == CUTCOMP_INVALID_ARGUMENT);
  CHECK(cutcomp_audit(NULL, path, 1.0, 0.0, NULL) == CUTCOMP_INVALID_ARGUMENT);
  CHECK(cutcomp_path_add_line(NULL, 0, 0, 1, 0, 0, 0, 0) == CUTCOMP_INVALID_ARGUMENT);
  CHECK(cutcomp_path_add_segment(path, NULL) == CUTCOMP_INVALID_ARGUMENT);
  CHECK(cutcomp_path_segment(path, 4, &segment) == CUTCOMP_INVALID_ARGUMENT);
  CHECK(cutcomp_options_set_evade(NULL, 1) == CUTCOMP_INVALID_ARGUMENT);
  CHECK(cutcomp_path_size(NULL) == 0 && cutcomp_result_size(NULL) == 0);
  CHECK(cutcomp_result_piece(NULL, 0, &piece) == CUTCOMP_INVALID_ARGUMENT);
  CHECK(strcmp(cutcomp_result_message(NULL), "") == 0);
  CHECK(cutcomp_compensate(path, options, &result) == CUTCOMP_OK);
  CHECK(cutcomp_result_piece(result, 4, &piece) == CUTCOMP_INVALID_ARGUMENT);
  CHECK(cutcomp_result_piece(result, 0, NULL) == CUTCOMP_INVALID_ARGUMENT);
  cutcomp_result_free(result);
  cutcomp_result_free(NULL);
  cutcomp_audit_free(NULL);
  cutcomp_options_free(NULL);
  cutcomp_path_free(NULL);
  cutcomp_options_free(options);
  cutcomp_path_free(path);
}

static void texts(void) {
  int status;
  for (status = CUTCOMP_OK; status <= CUTCOMP_INTERNAL_ERROR; ++status) {
    CHECK(strlen(cutcomp_status_text(status)) > 0);
  }
  CHECK(strcmp(cutcomp_status_text(99), "") == 0);
  CHECK(strlen(cutcomp_error_gloss(12)) > 0 && strcmp(cutcomp_error_gloss(0), "") == 0);
  CHECK(strcmp(cutcomp_version(), CUTCOMP_EXPECTED_VERSION) == 0);
}

int main(void) {
  compensates_a_contour_and_audits_it();
  audits_a_foreign_tool_path();
  reports_a_refusal();
  refuses_input_it_cannot_use();
  avoids_a_notch_narrower_than_the_cutter();
  null_handles_and_indices_out_of_range();
  texts();
  if (failures != 0) {
    fprintf(stderr, "%d checks failed\n", failures);
    return 1;
  }
  printf("C interface: every check holds\n");
  return 0;
}
