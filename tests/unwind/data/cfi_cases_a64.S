// Hand-written call-frame information for rule forms that compilers rarely emit: remembered
// states, expressions, value offsets, register rules, pointer-authentication state, an
// undefined return address.
    .cfi_sections .eh_frame, .debug_frame
    .text

    .globl remember_state
    .type remember_state, %function
remember_state:
    .cfi_startproc
    stp x29, x30, [sp, #-32]!
    .cfi_def_cfa_offset 32
    .cfi_offset x29, -32
    .cfi_offset x30, -24
    str x19, [sp, #16]
    .cfi_offset x19, -16
    cbz x0, 1f
    .cfi_remember_state
    ldr x19, [sp, #16]
    ldp x29, x30, [sp], #32
    .cfi_def_cfa_offset 0
    .cfi_restore x29
    .cfi_restore x30
    .cfi_restore x19
    ret
1:
    .cfi_restore_state
    mov x0, x1
    ldr x19, [sp, #16]
    ldp x29, x30, [sp], #32
    ret
    .cfi_endproc
    .size remember_state, .-remember_state

    .globl signed_return
    .type signed_return, %function
signed_return:
    .cfi_startproc
    paciasp
    .cfi_negate_ra_state
    stp x29, x30, [sp, #-16]!
    .cfi_def_cfa_offset 16
    .cfi_offset x29, -16
    .cfi_offset x30, -8
    mov x29, sp
    .cfi_def_cfa x29, 16
    bl remember_state
    ldp x29, x30, [sp], #16
    .cfi_def_cfa sp, 0
    autiasp
    .cfi_negate_ra_state
    ret
    .cfi_endproc
    .size signed_return, .-signed_return

    .globl expressions
    .type expressions, %function
expressions:
    .cfi_startproc
    stp x20, x30, [sp, #-16]!
    // CFA = sp + 16 as an expression: DW_OP_breg31 16
    .cfi_escape 0x0f, 0x02, 0x8f, 0x10
    // x20 at the address sp + 0: DW_CFA_expression x20, DW_OP_breg31 0
    .cfi_escape 0x10, 0x14, 0x02, 0x8f, 0x00
    // x21 = CFA + 32: DW_CFA_val_expression x21, DW_OP_call_frame_cfa; DW_OP_plus_uconst 32
    .cfi_escape 0x16, 0x15, 0x03, 0x9c, 0x23, 0x20
    .cfi_offset x30, -8
    mov x0, x1
    // x22 = CFA - 48: DW_CFA_val_offset_sf x22, 6 (factored by -8)
    .cfi_escape 0x15, 0x16, 0x06
    .cfi_register x23, x1
    .cfi_same_value x24
    ldp x20, x30, [sp], #16
    ret
    .cfi_endproc
    .size expressions, .-expressions

    .globl thread_entry
    .type thread_entry, %function
thread_entry:
    .cfi_startproc
    .cfi_undefined x30
    mov x29, #0
    bl remember_state
    .cfi_endproc
    .size thread_entry, .-thread_entry

    .section .note.GNU-stack,"",%progbits
